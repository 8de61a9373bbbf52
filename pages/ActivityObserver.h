#pragma once

#include "ops/PhyPass.h"
#include "recorder/LineSamples.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tessor {

// Told what the pages do: the passes the poll threads finish and the actions the tool sends. The sheet
// installs one in every page; without one the pages behave as they always did. Implementations must be
// thread-safe: passes are reported on the poll threads, actions on the UI thread.
class IActivityObserver {
public:
    virtual ~IActivityObserver() = default;
    // A PHY pass with all six reads done, as the pass rule decided it.
    virtual void OnPhyPass(const ops::PhyPass& pass) = 0;
    // A complete Ethernet pass: what each of the fifteen reads returned, and the totals after it.
    virtual void OnEthPass(const std::array<RegResult, kCounterDefCount>& reads,
                           const std::array<std::uint64_t, kCounterDefCount>& totals) = 0;
    // Something the tool sent to the board.
    virtual void OnAction(rec::Action action, const std::string& detail) = 0;
};

// What makes the PHY passes that a background recording asks for (the PHY page and its poll thread).
class IPhyPassSource {
public:
    virtual ~IPhyPassSource() = default;
    // Whether passes come by themselves (the page is running).
    virtual bool PassesRunning() const = 0;
    // One pass now, on the poll thread; the references are read first when none are known yet.
    virtual void RequestPass() = 0;
};

} // namespace tessor
