#include "linetest/LineTestBoard.h"

#include "ops/Access.h"

namespace tessor::linetest {

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Answered:
        return "answered";
    case Outcome::Garbled:
        return "garbled reply";
    case Outcome::NoAnswer:
        return "no answer";
    case Outcome::Cancelled:
        return "cancelled";
    case Outcome::DeviceFailed:
        return "device failed or gone";
    case Outcome::LineDown:
        return "line down";
    case Outcome::MailboxIncomplete:
        return "mailbox did not complete";
    }
    return "unknown";
}

Outcome COpsLineTestBoard::Classify(std::initializer_list<const RegResult*> results) {
    return Classify(ops::ClassifyPass(results));
}

Outcome COpsLineTestBoard::Classify(const ops::PassOutcome& pass) {
    if (!pass.firstFailed)
        return Outcome::Answered;
    switch (*pass.firstFailed) {
    case Outcome::Answered:
    case Outcome::Garbled:
    case Outcome::LineDown:
    case Outcome::MailboxIncomplete:
        break;
    case Outcome::NoAnswer:
    case Outcome::Cancelled:
    case Outcome::DeviceFailed:
        m_lost = true;
        break;
    }
    return *pass.firstFailed;
}

bool COpsLineTestBoard::Lost() const {
    return m_lost;
}

SideRead COpsLineTestBoard::ReadSide() {
    SideRead read;
    const ops::ModemSideRead side = ops::DetectModemSide(m_bus);
    const ops::PhyReferenceRead refs = ops::ReadPhyReferences(m_bus, side.side);
    read.outcome = Classify({&side.read, &refs.read});
    if (read.outcome == Outcome::Answered) {
        read.side = side.side;
        read.references = refs.references;
        m_references = refs.references;
    }
    return read;
}

std::optional<bool> COpsLineTestBoard::LineUp() {
    const RegResult link = ops::IsLinkUp(m_bus);
    if (Classify({&link}) != Outcome::Answered)
        return std::nullopt;
    return link.value == 1;
}

IdentificationRead COpsLineTestBoard::ReadIdentification(int target) {
    IdentificationRead read;
    read.id = target == kRemote ? ops::ReadRemoteIdentification(m_bus) : ops::ReadBoardIdentification(m_bus);
    read.outcome = Classify({&read.id.read72, &read.id.read73, &read.id.read6F});
    return read;
}

LinkSettingsRead COpsLineTestBoard::ReadLinkSettings(std::int32_t crystalHz, bool readRemoteSpeed) {
    LinkSettingsRead read;
    read.settings = ops::ReadLinkSettings(m_bus, crystalHz, readRemoteSpeed);
    const ops::LinkSettings& s = read.settings;
    read.outcome = Classify({&s.downstream.configRead, &s.downstream.carrierRead, &s.upstream.configRead,
                             &s.upstream.carrierRead, &s.localSpeed.read});
    return read;
}

PhyRead COpsLineTestBoard::RunPhyPass() {
    PhyRead read;
    read.pass = ops::RunPhyPass(m_bus, m_references);
    read.outcome = Classify(read.pass.outcome);
    return read;
}

EthernetRead COpsLineTestBoard::RunEthernetPass() {
    EthernetRead read;
    read.pass = ops::RunEthernetPass(m_bus);
    read.outcome =
        Classify(ops::ClassifyPass(read.pass.raw.data(), static_cast<std::size_t>(read.pass.countersRead)));
    return read;
}

} // namespace tessor::linetest
