#include "ops/BlockReads.h"

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tessor::ops {

namespace {

unsigned AddressOf(const RegisterRead& read) {
    return static_cast<unsigned>(std::strtoul(std::string(read.address, 4).c_str(), nullptr, 16));
}

// The count text of a read: " 1" for one register, else its count as a byte.
void CountText(int count, char text[3]) {
    if (count == 1) {
        text[0] = ' ';
        text[1] = '1';
        text[2] = '\0';
        return;
    }
    FormatByte(static_cast<std::uint8_t>(count), text);
}

} // namespace

std::vector<ReadBlock> PlanReads(const std::vector<RegisterRead>& reads, bool blockReads) {
    std::vector<ReadBlock> blocks;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        const unsigned low = AddressOf(reads[i]);
        const int count = reads[i].count;
        if (blockReads && !blocks.empty()) {
            ReadBlock& last = blocks.back();
            const bool above = low == last.low + static_cast<unsigned>(last.count);
            const bool below = low + static_cast<unsigned>(count) == last.low;
            if ((above || below) && last.count + count <= kMaxBlockRegisters) {
                if (below)
                    last.low = low;
                last.count += count;
                ++last.reads;
                continue;
            }
        }
        blocks.push_back(ReadBlock{i, 1, low, count});
    }
    return blocks;
}

std::vector<RegResult> ReadBlockOnce(IRegisterBus& bus, const std::vector<RegisterRead>& reads,
                                     const ReadBlock& block) {
    char count[3];
    if (block.reads == 1) {
        const RegisterRead& read = reads[block.first];
        CountText(read.count, count);
        return {bus.Exchange(kRead, read.address, count)};
    }
    char address[8];
    std::snprintf(address, sizeof address, "%04X", block.low & 0xFFFF);
    CountText(block.count, count);
    RegResult whole = bus.Exchange(kRead, address, count);
    // An answer without every register's byte cannot be cut into its reads: their values are unknown.
    if (whole.ok() && whole.bytes.size() != static_cast<std::size_t>(block.count))
        whole = RegResult::Fail(Outcome::Garbled);
    std::vector<RegResult> results;
    for (std::size_t i = block.first; i < block.first + block.reads; ++i) {
        if (!whole.ok()) {
            RegResult failed = RegResult::Fail(whole.outcome);
            failed.reply = whole.reply;
            results.push_back(failed);
            continue;
        }
        const unsigned offset = AddressOf(reads[i]) - block.low;
        RegResult part = RegResult::Answer(0);
        std::uint64_t value = 0;
        for (int j = 0; j < reads[i].count; ++j) {
            const std::uint8_t byte = whole.bytes[offset + static_cast<unsigned>(j)];
            value |= static_cast<std::uint64_t>(byte) << (8 * j);
            part.bytes.push_back(byte);
        }
        part.value = static_cast<std::int64_t>(value);
        results.push_back(part);
    }
    return results;
}

} // namespace tessor::ops
