#include "linetest/LineTestBoard.h"

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"

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
    }
    return "unknown";
}

ReadOutcome COpsLineTestBoard::Outcome(std::initializer_list<std::int64_t> results) {
    bool failed = false;
    for (const std::int64_t result : results)
        failed = failed || ops::BoardFailed(result);
    const bool garbled = m_takeGarbled && m_takeGarbled();
    if (failed)
        return ReadOutcome::NoAnswer;
    return garbled ? ReadOutcome::Garbled : ReadOutcome::Answered;
}

bool COpsLineTestBoard::Lost() const {
    const CConsolePort* port = g_pConsolePort.load();
    return port == nullptr || port->NoComm();
}

SideRead COpsLineTestBoard::ReadSide() {
    SideRead read;
    const ops::ModemSideRead side = ops::DetectModemSide();
    const ops::PhyReferenceRead refs = ops::ReadPhyReferences(side.side);
    read.outcome = Outcome({side.raw, refs.raw});
    if (read.outcome == ReadOutcome::Answered) {
        read.side = side.side;
        read.references = refs.references;
        m_references = refs.references;
    }
    return read;
}

std::optional<bool> COpsLineTestBoard::LineUp() {
    const bool up = ops::LinkUp();
    if (Lost())
        return std::nullopt;
    if (m_takeGarbled && m_takeGarbled())
        return std::nullopt;
    return up;
}

IdentificationRead COpsLineTestBoard::ReadIdentification(int target) {
    IdentificationRead read;
    read.id = target == kRemote ? ops::ReadRemoteIdentification() : ops::ReadBoardIdentification();
    read.outcome = Outcome({read.id.raw72, read.id.raw73, read.id.raw6F});
    // A remote read that failed while the board answers: the mailbox found the line down.
    if (target == kRemote && read.outcome == ReadOutcome::NoAnswer && !Lost())
        read.outcome = ReadOutcome::LineDown;
    return read;
}

LinkSettingsRead COpsLineTestBoard::ReadLinkSettings(std::int32_t crystalHz, bool readRemoteSpeed) {
    LinkSettingsRead read;
    read.settings = ops::ReadLinkSettings(crystalHz, readRemoteSpeed);
    const ops::LinkSettings& s = read.settings;
    read.outcome = Outcome({s.downstream.rawConfig, s.downstream.rawCarrier, s.upstream.rawConfig,
                            s.upstream.rawCarrier, s.localSpeed.raw});
    return read;
}

PhyRead COpsLineTestBoard::RunPhyPass() {
    PhyRead read;
    read.raw = ops::RunPhyPass(m_references).raw;
    const ops::PhyReadResults& r = read.raw;
    read.outcome =
        Outcome({r.errorValue, r.txLevel, r.rsCorrected, r.linkStatus, r.lineFlags, r.linkFailCount});
    return read;
}

EthernetRead COpsLineTestBoard::RunEthernetPass() {
    EthernetRead read;
    read.pass = ops::RunEthernetPass();
    bool failed = false;
    for (int i = 0; i < read.pass.countersRead; ++i)
        failed = failed || ops::BoardFailed(read.pass.raw[static_cast<std::size_t>(i)]);
    read.outcome = Outcome({failed ? -1 : 0});
    return read;
}

} // namespace tessor::linetest
