#include "monitor/BoardPasses.h"

#include "ops/Board.h"
#include "ops/LinkSettings.h"

namespace tessor::monitor {

namespace {

std::optional<std::uint8_t> LowByte(const std::optional<std::uint16_t>& value) {
    if (!value)
        return std::nullopt;
    return static_cast<std::uint8_t>(*value & 0xFF);
}

DirectionValues Decode(const ops::DirectionSettings& d) {
    DirectionValues out;
    if (d.rate)
        out.lineRateBytesPerSecond = static_cast<double>(*d.rate) * 1e6 / 8.0;
    out.carrierHertz = static_cast<double>(d.carrier) * 10000.0;
    return out;
}

} // namespace

std::string Identification::SideLabel() const {
    if (!typeRegister)
        return "unknown";
    return IsNt() ? "nt" : "lt";
}

bool CBoardPasses::Good(const RegResult& r) {
    return Note(ops::ClassifyPass({&r}));
}

bool CBoardPasses::Note(const ops::PassOutcome& pass) {
    if (pass.garbled > 0)
        m_spoiltSeen = true;
    if (pass.Silent())
        m_broken = true;
    m_reads.insert(m_reads.end(), pass.reads.begin(), pass.reads.end());
    return pass.Answered();
}

ops::PassOutcome CBoardPasses::WholePass() const {
    return ops::ClassifyOutcomes(m_reads);
}

bool CBoardPasses::ReadIdentification(Identification& id) {
    const ops::ModemSideRead side = ops::DetectModemSide(m_bus);
    if (!Good(side.read))
        return !Broken();
    id.typeRegister = static_cast<std::uint8_t>(side.read.value & 0xFF);
    const ops::BoardIdentification board = ops::ReadBoardIdentification(m_bus, m_blockReads);
    if (Good(board.read72) & Good(board.read73) & Good(board.read6F)) {
        id.chip = LowByte(board.id72);
        id.revision = LowByte(board.id73);
        id.firmware = LowByte(board.id6F);
    }
    if (Broken())
        return false;
    const ops::PhyReferenceRead refs = ops::ReadPhyReferences(m_bus, side.side);
    if (Good(refs.read))
        id.references = refs.references;
    return !Broken();
}

bool CBoardPasses::ReadLinkSettings(std::int32_t crystalHz, LinkValues& settings) {
    // The settings are read one register after the other; a garbled reply anywhere leaves them all out.
    const ops::LinkSettings read = ops::ReadLinkSettings(m_bus, crystalHz, false, m_blockReads);
    const bool good = Good(read.downstream.configRead) & Good(read.downstream.carrierRead) &
                      Good(read.upstream.configRead) & Good(read.upstream.carrierRead) &
                      Good(read.localSpeed.read);
    if (!good)
        return !Broken();
    settings.downstream = Decode(read.downstream);
    settings.upstream = Decode(read.upstream);
    settings.ethernetSpeedRegister = static_cast<std::uint8_t>(read.localSpeed.read.value & 0xFF);
    return true;
}

bool CBoardPasses::ReadPhy(const std::optional<ops::PhyReferences>& references, ops::PhyPass& pass) {
    pass = ops::RunPhyPass(m_bus, references, {}, m_blockReads);
    Note(pass.outcome);
    return pass.complete && !Broken();
}

bool CBoardPasses::ReadEthernet(EthernetTotals& totals, ops::EthernetPass* pass) {
    ops::EthernetPassHooks hooks;
    hooks.counted = [&](int index, const RegResult& result) {
        totals[static_cast<std::size_t>(index)] += ops::CounterCount(result).value_or(0);
    };
    const ops::EthernetPass read = ops::RunEthernetPass(m_bus, hooks, m_blockReads);
    Note(ops::ClassifyPass(read.raw.data(), static_cast<std::size_t>(read.countersRead)));
    if (pass)
        *pass = read;
    return read.complete && !Broken();
}

} // namespace tessor::monitor
