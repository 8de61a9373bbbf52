#pragma once

// The Ethernet counter pass: fifteen MAC statistics counters of the local modem, four registers each,
// and the 64-bit totals they accumulate into.

#include "link/RegisterBus.h"
#include "model/LineVocabulary.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace tessor::ops {

// A pass reads the counters of kCounterDefs in their order.

// What one counter read adds to the Ethernet page's total: the low 32 bits as an unsigned number divided
// by 5 (the page's display arithmetic). A read that failed adds nothing.
std::uint64_t CounterIncrement(const RegResult& result);

// The count one counter read delivers: the low 32 bits as read, the events since the counter was last
// read (it clears when read). Nothing for a read that failed: what it carried is unknown.
std::optional<std::uint32_t> CounterCount(const RegResult& result);

// How a caller follows a pass. Every member may be empty.
struct EthernetPassHooks {
    // Before counter index is read.
    std::function<void(int index)> beforeRead;
    // After the read, before it counts: true abandons the pass and the read is not counted (shutdown).
    std::function<bool()> abandon;
    // The read counts: its raw result.
    std::function<void(int index, const RegResult& result)> counted;
    // After the read has counted: true ends the pass there (counting stopped).
    std::function<bool()> stop;
};

// One pass: raw results, counts and the page's increments of the counters read so far, in counter order.
// With blockReads neighbouring counters whose registers follow one another are read with one command
// (see PlanReads); the hooks then run for each counter of the command, abandon and stop once after it.
struct EthernetPass {
    bool complete = false;
    int countersRead = 0; // counted reads; the later ones were not made
    std::array<RegResult, kCounterDefCount> raw{};
    std::array<std::optional<std::uint32_t>, kCounterDefCount> counts{};
    std::array<std::uint64_t, kCounterDefCount> increments{};
};
EthernetPass RunEthernetPass(IRegisterBus& bus, const EthernetPassHooks& hooks = {}, bool blockReads = false);

// Running 64-bit totals, as the Ethernet page accumulates them.
struct EthernetTotals {
    std::array<std::uint64_t, kCounterDefCount> totals{};
    std::uint64_t passes = 0; // complete passes added

    // Adds the increments of the counted reads; a complete pass also counts as a pass.
    void Add(const EthernetPass& pass);
    void Clear() { *this = EthernetTotals{}; }
};

// Running sums of the raw counts: what every figure outside the Ethernet page is made from.
struct EthernetCountTotals {
    std::array<std::uint64_t, kCounterDefCount> totals{};
    std::uint64_t passes = 0; // complete passes added

    // Adds the counts of the counted reads that were answered; a complete pass also counts as a pass.
    void Add(const EthernetPass& pass);
};

} // namespace tessor::ops
