#pragma once

// The Ethernet counter pass: fifteen MAC statistics counters of the local modem, four registers each,
// and the 64-bit totals they accumulate into.

#include "link/RegisterBus.h"
#include "model/LineVocabulary.h"

#include <array>
#include <cstdint>
#include <functional>

namespace tessor::ops {

// One Ethernet MAC statistics counter: the first of its four registers, its labels, the page's field and
// its machine name.
using EthernetCounter = CounterDef;

constexpr int kEthernetCounterCount = kCounterDefCount;

// The counters in the order a pass reads them. 8CEC is not read.
inline const std::array<EthernetCounter, kEthernetCounterCount>& kEthernetCounters = kCounterDefs;

// What one counter read adds to its total: the low 32 bits as an unsigned number divided by 5. A read
// that failed adds nothing.
std::uint64_t CounterIncrement(const RegResult& result);

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

// One pass: raw results and increments of the counters read so far, in counter order.
struct EthernetPass {
    bool complete = false;
    int countersRead = 0; // counted reads; the later ones were not made
    std::array<RegResult, kEthernetCounterCount> raw{};
    std::array<std::uint64_t, kEthernetCounterCount> increments{};
};
EthernetPass RunEthernetPass(IRegisterBus& bus, const EthernetPassHooks& hooks = {});

// Running 64-bit totals, as the Ethernet page accumulates them.
struct EthernetTotals {
    std::array<std::uint64_t, kEthernetCounterCount> totals{};
    std::uint64_t passes = 0; // complete passes added

    // Adds the increments of the counted reads; a complete pass also counts as a pass.
    void Add(const EthernetPass& pass);
    void Clear() { *this = EthernetTotals{}; }
};

} // namespace tessor::ops
