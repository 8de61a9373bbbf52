// Append after a cut: rows made from the input are written to a recording, the file is cut at a byte the
// input chooses, a second writer appends more rows, and the file is read. It must open, with every row
// that was complete before the cut and every row after it, and with one damaged row skipped exactly when
// the cut fell inside a row.
#include "recorder/RecordingFile.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace tessor::rec;

// Takes bytes from the input, zeros once it runs out.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::uint32_t Take(int bytes) {
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            v = v << 8 | (size > 0 ? *data : 0u);
            if (size > 0) {
                ++data;
                --size;
            }
        }
        return v;
    }
};

// What a row was, to find it again: its type, time and (for an action) text.
struct Written {
    char type;
    std::int64_t wallMs;
    std::string text;
    bool operator==(const Written& o) const { return type == o.type && wallMs == o.wallMs && text == o.text; }
};

void Fail(bool failed) {
    if (failed)
        std::abort();
}

// Writes n rows chosen by the input; appends what each was to rows.
void WriteRows(CRecordingWriter* writer, Input* in, int n, std::int64_t* second, std::vector<Written>* rows) {
    LineStore store;
    std::string error;
    for (int i = 0; i < n; ++i) {
        const SampleTime t{1796000000000 + *second * 1000, *second * 1000};
        *second += 1 + static_cast<std::int64_t>(in->Take(1));
        switch (in->Take(1) % 3) {
        case 0: {
            const tessor::PhyRegisters raw{in->Take(3), in->Take(2), in->Take(4),
                                           in->Take(1), in->Take(1), in->Take(1)};
            const bool answered = in->Take(1) % 4 != 0;
            store.phy.push_back(
                MakePhySample(t, tessor::DecodePhy(raw, tessor::LineReferences{9180, 6920}), answered));
            Fail(!writer->WritePhy(store, store.phy.size() - 1, &error));
            rows->push_back({'p', t.wallMs, {}});
            break;
        }
        case 1: {
            EthSample s;
            s.time = t;
            for (std::size_t c = 0; c < s.reads.size(); ++c) {
                s.reads[c] = in->Take(4);
                s.totals[c] = (store.eth.empty() ? 0 : store.eth.back().totals[c]) + s.reads[c];
            }
            s.failedReads = static_cast<std::uint16_t>(in->Take(2) & 0x7FFF);
            store.eth.push_back(s);
            Fail(!writer->WriteEth(store, store.eth.size() - 1, &error));
            rows->push_back({'e', t.wallMs, {}});
            break;
        }
        default: {
            Event e{t, EventKind::Action, {}};
            for (std::uint32_t len = in->Take(1) % 48; len > 0; --len)
                e.text.push_back(static_cast<char>(in->Take(1)));
            Fail(!writer->WriteEvent(e, &error));
            std::replace(e.text.begin(), e.text.end(), '\r', ' '); // what the file keeps of line ends
            std::replace(e.text.begin(), e.text.end(), '\n', ' ');
            rows->push_back({'a', t.wallMs, e.text});
        }
        }
    }
}

std::vector<Written> RowsOf(const LineStore& store) {
    std::vector<Written> rows;
    std::size_t p = 0, e = 0, v = 0;
    // The file's order is lost in the store; the times (all different) give it back.
    for (;;) {
        const std::int64_t kEnd = INT64_MAX;
        const std::int64_t tp = p < store.phy.size() ? store.phy[p].time.wallMs : kEnd;
        const std::int64_t te = e < store.eth.size() ? store.eth[e].time.wallMs : kEnd;
        while (v < store.events.size() && store.events[v].kind != EventKind::Action)
            ++v;
        const std::int64_t tv = v < store.events.size() ? store.events[v].time.wallMs : kEnd;
        if (tp == kEnd && te == kEnd && tv == kEnd)
            return rows;
        if (tp <= te && tp <= tv)
            rows.push_back({'p', store.phy[p++].time.wallMs, {}});
        else if (te <= tv)
            rows.push_back({'e', store.eth[e++].time.wallMs, {}});
        else
            rows.push_back({'a', tv, store.events[v++].text});
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    // In memory where the system has a place for it: the fuzzer makes thousands of these files.
    const std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string path = dir + "/tessor-fuzz-resume-" + std::to_string(::getpid()) + ".csv";
    std::filesystem::remove(path);
    std::string error;
    std::vector<Written> before;
    std::vector<std::uintmax_t> ends; // file size after each row
    std::int64_t second = 0;
    const std::uint32_t cutChoice = in.Take(4);
    const int rowsBefore = 1 + static_cast<int>(in.Take(1) % 24);
    const int rowsAfter = 1 + static_cast<int>(in.Take(1) % 8);
    {
        auto writer = CRecordingWriter::Open(path, &error);
        Fail(!writer);
        for (int i = 0; i < rowsBefore; ++i) {
            WriteRows(writer.get(), &in, 1, &second, &before);
            ends.push_back(std::filesystem::file_size(path));
        }
    }
    const std::uintmax_t headerEnd = RecordingHeader().size() + 1;
    const std::uintmax_t cut = headerEnd + cutChoice % (ends.back() - headerEnd + 1);
    std::filesystem::resize_file(path, cut);
    const auto complete = static_cast<std::size_t>(
        std::count_if(ends.begin(), ends.end(), [&](std::uintmax_t end) { return end <= cut; }));
    const bool insideARow = std::find(ends.begin(), ends.end(), cut) == ends.end() && cut != headerEnd;
    std::vector<Written> expected(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(complete));
    {
        auto writer = CRecordingWriter::Open(path, &error);
        Fail(!writer);
        Fail(writer->CutRowNote().has_value() != insideARow);
        WriteRows(writer.get(), &in, rowsAfter, &second, &expected);
    }
    LineStore store;
    Fail(!ReadRecording(path, &store, &error));
    std::filesystem::remove(path);
    Fail(store.skippedRows != (insideARow ? 1u : 0u));
    Fail(RowsOf(store) != expected);
    return 0;
}
