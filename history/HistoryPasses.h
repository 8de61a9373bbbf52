#pragma once

// The Line History's samples as passes of the line performance (model/LinePerformance.h), live and for
// an opened recording alike, so that both classify the same way.

#include "model/LinePerformance.h"
#include "recorder/LineRecorder.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tessor {

// Each PHY sample is a pass. Its Ethernet counts are the raw counts the Ethernet page read since the PHY
// sample before it (the two pages poll apart). A counter whose count covers no known time (its first read,
// one after a gap or a failed read), or that was not read at all (the page not counting), is unknown for
// that pass and so never makes an interval errored.
class CHistoryPasses {
public:
    // store.eth[index], the sample just added.
    void AddEth(const rec::LineStore& store, std::size_t index);
    // The pass of a PHY sample, with the Ethernet counts taken since the last one.
    PassReads Pass(const rec::PhySample& sample);

private:
    std::array<std::optional<std::uint64_t>, kCounterDefCount> m_counts{};
    std::uint32_t m_lost = 0; // bit per counter: a read since the last pass whose count is not known
};

// The passes of a whole store (an opened recording): its samples in the order of their wall time, an
// Ethernet sample before a PHY sample of the same moment (one pass of the monitor reads both).
std::vector<PassReads> PassesOf(const rec::LineStore& store);
CLinePerformance PerformanceOf(const std::vector<PassReads>& passes, IntervalRules rules = {});

// A run of intervals of one class to mark on the time axis.
struct IntervalMark {
    std::int64_t fromMs = 0; // wall-clock time of the PHY sample before the first
    std::int64_t toMs = 0;   // and of the last
    IntervalClass value = IntervalClass::kErrored;
    bool operator==(const IntervalMark& o) const {
        return fromMs == o.fromMs && toMs == o.toMs && value == o.value;
    }
};
// Whether a class is marked: errored, severely errored and unavailable.
bool Marked(IntervalClass value);
// The marked intervals of the PHY samples' recorded classes that reach into fromMs..toMs, neighbours of
// one class joined. Reads the classes: call it under the recorder's lock.
std::vector<IntervalMark> IntervalMarks(const rec::LineStore& store, std::int64_t fromMs, std::int64_t toMs);

} // namespace tessor
