// Feeds arbitrary bytes to the recording file reader: it must either refuse them with a message or give
// samples in which every stored index and gap flag is consistent, and the decimation must cope with them.
#include "recorder/Decimate.h"
#include "recorder/RecordingFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The header first, so that the fuzzer spends its time on the rows.
    const std::string text =
        tessor::rec::RecordingHeader() + "\n" + std::string(reinterpret_cast<const char*>(data), size);
    tessor::rec::LineStore store;
    std::string error;
    if (!tessor::rec::ParseRecording(text, "input", &store, &error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    std::int64_t first = 0;
    std::int64_t last = 0;
    if (tessor::rec::TimeSpan(store, &first, &last)) {
        for (int s = 0; s < static_cast<int>(tessor::rec::Series::kCount); ++s) {
            const tessor::rec::Reduced r =
                tessor::rec::Decimate(store, static_cast<tessor::rec::Series>(s), first, last + 1, 100);
            if (r.columns.size() != 100)
                std::abort();
            for (const tessor::rec::Column& c : r.columns) {
                if (c.any && !(c.min <= c.first && c.first <= c.max && c.min <= c.last && c.last <= c.max))
                    std::abort();
            }
        }
    }
    return 0;
}
