#pragma once

// The monitor's register reads, made by the operations layer exactly as the pages make them. Every read
// is checked: a read that failed, timed out or came back with a spoilt echo delivers nothing, and once the
// connection is gone the pass ends early.

#include "monitor/BoardReadings.h"

#include <cstdint>
#include <optional>
#include <utility>

namespace tessor::monitor {

// What the passes ask of the connection after each read.
class IReadCheck {
public:
    virtual ~IReadCheck() = default;
    // True when the reply to the read just made was spoilt (wrong echo); clears the mark.
    virtual bool TakeSpoiltReply() = 0;
    // True when no further read can succeed on this connection (timed out, device lost, stopping).
    virtual bool ConnectionBroken() const = 0;
};

class CBoardPasses {
public:
    explicit CBoardPasses(IReadCheck& check) : m_check(check) {}

    // 8C70, 8C72, 8C73, 8C6F, then the configuration byte of the receive direction (8C10 on the NT side,
    // 8C11 on the LT side) as the PHY page reads it when shown. False when the connection broke; a group
    // with a spoilt reply leaves what it would have set empty.
    bool ReadIdentification(Identification& id);

    // 8C40, 8C42 (two registers), 8C41, 8C44 (two registers), 8D43: the Link Configuration page's
    // current settings of the local modem.
    bool ReadLinkSettings(std::int32_t crystalHz, LinkSettings& settings);

    // The six PHY reads: 8C99 (3), 8C9C (2), 8C91 (4), 8C71, 8C98, 8D38. Without references SNR and MSE
    // stay empty.
    bool ReadPhy(const std::optional<ops::PhyReferences>& references, PhyReadings& readings,
                 ops::PhyReadResults* results = nullptr);

    // The fifteen counters, four registers each, in the Ethernet page's order. Each good read adds its
    // value divided by 5 to its total; failed and spoilt reads add nothing.
    // reads and failed (bit per counter) receive each read's low 32 bits and whether it failed.
    bool ReadEthernet(EthernetTotals& totals,
                      std::array<std::uint32_t, kEthernetCounterCount>* reads = nullptr,
                      std::uint16_t* failed = nullptr);

    // Whether a reply was spoilt since the last call (what it should have delivered is missing).
    bool TakeSpoiltSeen() { return std::exchange(m_spoiltSeen, false); }

private:
    // After one read of the operations layer: whether its reply was spoilt.
    bool Spoilt() {
        const bool spoilt = m_check.TakeSpoiltReply();
        m_spoiltSeen = m_spoiltSeen || spoilt;
        return spoilt;
    }
    bool Broken() const { return m_check.ConnectionBroken(); }

    IReadCheck& m_check;
    bool m_spoiltSeen = false;
};

} // namespace tessor::monitor
