#pragma once

// The monitor's register reads, made by the operations layer exactly as the pages make them. Every read
// is checked: a read that failed, timed out or came back garbled delivers nothing; once the connection is
// gone the pass reports it.

#include "link/RegisterBus.h"
#include "monitor/BoardReadings.h"
#include "ops/PassOutcome.h"
#include "ops/PhyPass.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tessor::monitor {

class CBoardPasses {
public:
    // With blockReads the PHY and Ethernet reads go as runs of consecutive registers, one command each.
    explicit CBoardPasses(IRegisterBus& bus, bool blockReads = false)
        : m_bus(bus), m_blockReads(blockReads) {}

    // 8C70, 8C72, 8C73, 8C6F, then the configuration byte of the receive direction (8C10 on the NT side,
    // 8C11 on the LT side) as the PHY page reads it when shown. False when the connection broke; a group
    // with a garbled reply leaves what it would have set empty.
    bool ReadIdentification(Identification& id);

    // 8C40, 8C42 (two registers), 8C41, 8C44 (two registers), 8D43: the Link Configuration page's
    // current settings of the local modem.
    bool ReadLinkSettings(std::int32_t crystalHz, LinkValues& settings);

    // The six PHY reads: 8C99 (3), 8C9C (2), 8C91 (4), 8C71, 8C98, 8D38, decided by the pass rule: without
    // references SNR and MSE stay empty; a garbled read leaves its values empty (unknown). pass receives
    // the pass also when it broke off (the reads not made are not answered).
    bool ReadPhy(const std::optional<ops::PhyReferences>& references, ops::PhyPass& pass);

    // The fifteen counters, four registers each, in the Ethernet page's order. Each good read adds its
    // raw count to its total; failed and garbled reads add nothing. pass receives the pass as read, also
    // when it broke off.
    bool ReadEthernet(EthernetTotals& totals, ops::EthernetPass* pass = nullptr);

    // Whether a reply was garbled since the last call (what it should have delivered is missing).
    bool TakeSpoiltSeen() { return std::exchange(m_spoiltSeen, false); }

    // Every read made through this object so far, as one pass: a board that sent no valid reply at all
    // has not answered it.
    ops::PassOutcome WholePass() const;

private:
    // Notes a result: true when answered. A garbled one is noted as spoilt, any other failure breaks the
    // connection for the rest of the pass.
    bool Good(const RegResult& r);
    // Notes a pass the same way: true when every read was answered.
    bool Note(const ops::PassOutcome& pass);
    bool Broken() const { return m_broken; }

    IRegisterBus& m_bus;
    bool m_blockReads = false;
    bool m_spoiltSeen = false;
    bool m_broken = false;
    std::vector<Outcome> m_reads; // each read's outcome, in order
};

} // namespace tessor::monitor
