#pragma once

// The reads of a sequence, made one command each or, with block reads, as runs of consecutive registers
// with one command each. Either way every read keeps its own result and outcome.

#include "link/RegisterBus.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessor::ops {

// At most this many registers go in one command, so the bytes fit the 64-bit value.
inline constexpr int kMaxBlockRegisters = 8;

// One read of a sequence: count (1..8) consecutive registers from address, a four-character address text
// (the sequence's own, passed on as it is: the program's own status reads stay silent).
struct RegisterRead {
    const char* address;
    int count;
};

// One command: the reads first .. first + reads - 1 of the list, together the registers from low, count
// of them.
struct ReadBlock {
    std::size_t first = 0;
    std::size_t reads = 0;
    unsigned low = 0;
    int count = 0;
};

// How the reads go out, in list order. Without block reads each read is its own block. With block reads
// a read joins the block before it when its registers extend that block's range at either end without a
// gap or an overlap and the range stays within kMaxBlockRegisters.
std::vector<ReadBlock> PlanReads(const std::vector<RegisterRead>& reads, bool blockReads);

// Sends one block's command and returns the result of each of its reads, in list order. A block of one
// read is exactly that read's command. A block of several is cut into its reads: each gets the bytes of
// its registers (the first in the lowest byte of the value); a block that was not answered gives every
// read in it the block's outcome, never a value.
std::vector<RegResult> ReadBlockOnce(IRegisterBus& bus, const std::vector<RegisterRead>& reads,
                                     const ReadBlock& block);

} // namespace tessor::ops
