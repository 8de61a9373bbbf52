#include "ops/EthernetPass.h"

#include "link/ConsolePort.h"
#include "ops/Access.h"
#include "ops/BlockReads.h"

#include <vector>

namespace tessor::ops {

std::uint64_t CounterIncrement(const RegResult& result) {
    if (!result.ok())
        return 0;
    return static_cast<std::uint32_t>(result.value) / 5u;
}

std::optional<std::uint32_t> CounterCount(const RegResult& result) {
    if (!result.ok())
        return std::nullopt;
    return static_cast<std::uint32_t>(result.value);
}

EthernetPass RunEthernetPass(IRegisterBus& bus, const EthernetPassHooks& hooks, bool blockReads) {
    EthernetPass pass;
    std::vector<RegisterRead> reads;
    for (const CounterDef& counter : kCounterDefs)
        reads.push_back(RegisterRead{counter.address, 4});
    for (const ReadBlock& block : PlanReads(reads, blockReads)) {
        const int first = static_cast<int>(block.first);
        const int end = first + static_cast<int>(block.reads);
        for (int i = first; i < end; ++i) {
            if (hooks.beforeRead)
                hooks.beforeRead(i);
        }
        const std::vector<RegResult> results = ReadBlockOnce(bus, reads, block);
        if (hooks.abandon && hooks.abandon())
            return pass;
        for (int i = first; i < end; ++i) {
            const RegResult& result = results[static_cast<std::size_t>(i - first)];
            pass.raw[i] = result;
            pass.counts[i] = CounterCount(result);
            pass.increments[i] = CounterIncrement(result);
            pass.countersRead = i + 1;
            if (hooks.counted)
                hooks.counted(i, result);
        }
        // A stop takes effect after the read in progress.
        if (hooks.stop && hooks.stop())
            return pass;
    }
    pass.complete = true;
    return pass;
}

void EthernetTotals::Add(const EthernetPass& pass) {
    for (int i = 0; i < pass.countersRead; ++i)
        totals[i] += pass.increments[i];
    if (pass.complete)
        ++passes;
}

void EthernetCountTotals::Add(const EthernetPass& pass) {
    for (int i = 0; i < pass.countersRead; ++i)
        totals[i] += pass.counts[i].value_or(0);
    if (pass.complete)
        ++passes;
}

} // namespace tessor::ops
