#include "linetest/LineTestBoard.h"

#include "ops/Access.h"

namespace tessor::linetest {

const char* OutcomeText(ReadOutcome outcome) {
    switch (outcome) {
    case ReadOutcome::Answered:
        return "answered";
    case ReadOutcome::Garbled:
        return "garbled reply";
    case ReadOutcome::NoAnswer:
        return "no answer";
    case ReadOutcome::LineDown:
        return "line down";
    case ReadOutcome::MailboxIncomplete:
        return "mailbox did not complete";
    }
    return "unknown";
}

ReadOutcome COpsLineTestBoard::Outcome(std::initializer_list<const RegResult*> results) {
    return Outcome(ops::ClassifyPass(results));
}

ReadOutcome COpsLineTestBoard::Outcome(const ops::PassOutcome& pass) {
    if (!pass.firstFailed)
        return ReadOutcome::Answered;
    switch (*pass.firstFailed) {
    case tessor::Outcome::Answered:
        break;
    case tessor::Outcome::Garbled:
        return ReadOutcome::Garbled;
    case tessor::Outcome::LineDown:
        return ReadOutcome::LineDown;
    case tessor::Outcome::MailboxIncomplete:
        return ReadOutcome::MailboxIncomplete;
    case tessor::Outcome::NoAnswer:
    case tessor::Outcome::Cancelled:
    case tessor::Outcome::DeviceFailed:
        m_lost = true;
        return ReadOutcome::NoAnswer;
    }
    return ReadOutcome::Answered;
}

bool COpsLineTestBoard::Lost() const {
    return m_lost;
}

SideRead COpsLineTestBoard::ReadSide() {
    SideRead read;
    const ops::ModemSideRead side = ops::DetectModemSide(m_bus);
    const ops::PhyReferenceRead refs = ops::ReadPhyReferences(m_bus, side.side);
    read.outcome = Outcome({&side.read, &refs.read});
    if (read.outcome == ReadOutcome::Answered) {
        read.side = side.side;
        read.references = refs.references;
    }
    return read;
}

std::optional<bool> COpsLineTestBoard::LineUp() {
    const RegResult link = ops::CheckLink(m_bus);
    if (Outcome({&link}) != ReadOutcome::Answered)
        return std::nullopt;
    return link.value == 1;
}

IdentificationRead COpsLineTestBoard::ReadIdentification(int target) {
    IdentificationRead read;
    read.id = target == kRemote ? ops::ReadRemoteIdentification(m_bus) : ops::ReadBoardIdentification(m_bus);
    read.outcome = Outcome({&read.id.read72, &read.id.read73, &read.id.read6F});
    return read;
}

LinkSettingsRead COpsLineTestBoard::ReadLinkSettings(std::int32_t crystalHz, bool readRemoteSpeed) {
    LinkSettingsRead read;
    read.settings = ops::ReadLinkSettings(m_bus, crystalHz, readRemoteSpeed);
    const ops::LinkSettings& s = read.settings;
    read.outcome = Outcome({&s.downstream.configRead, &s.downstream.carrierRead, &s.upstream.configRead,
                            &s.upstream.carrierRead, &s.localSpeed.read});
    return read;
}

PhyRead COpsLineTestBoard::RunPhyPass() {
    PhyRead read;
    ops::RunPhyReads(m_bus, &read.raw, {});
    read.outcome = Outcome(ops::ClassifyPhyReads(read.raw));
    return read;
}

EthernetRead COpsLineTestBoard::RunEthernetPass() {
    EthernetRead read;
    read.pass = ops::RunEthernetPass(m_bus);
    read.outcome =
        Outcome(ops::ClassifyPass(read.pass.raw.data(), static_cast<std::size_t>(read.pass.countersRead)));
    return read;
}

} // namespace tessor::linetest
