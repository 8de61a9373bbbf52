#pragma once

// The columns of a recording file and how a header line names them. Internal to the recording file.

#include "recorder/LineSamples.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tessor::rec::file {

enum Column {
    kColTime,
    kColMono,
    kColType,
    kColRawFirst, // six raw register results
    kColSnr = kColRawFirst + 6,
    kColMse,
    kColRs,
    kColPower,
    kColLinkFail,
    kColIndicatorFirst,
    kColAnswered = kColIndicatorFirst + kIndicatorCount,
    kColReadFirst,
    kColTotalFirst = kColReadFirst + kCounterDefCount,
    kColRateFirst = kColTotalFirst + kCounterDefCount,
    kColEvent = kColRateFirst + kCounterDefCount,
    kColDetail,
    kColIntervalClass, // absent from files of earlier versions
    kColumnCount
};

// The column names in order.
std::vector<std::string> ColumnNames();

// Matches a header line (without its line end) with the columns of a recording: for each of ours, the
// field that holds it under its name or its former name, or -1. False, with the first column missing,
// when a column every recording has is not there. A leading byte-order mark is passed over.
bool MatchHeader(std::string_view line, std::vector<int>* columnOf, std::size_t* fieldCount,
                 std::string* missing);

// The six registers in column order (PhyRegisters, const or not).
template <typename Registers> auto RegisterFields(Registers* r) {
    return std::array{&r->errorValue, &r->txLevel,   &r->rsCorrected,
                      &r->linkStatus, &r->lineFlags, &r->linkFailCount};
}

} // namespace tessor::rec::file
