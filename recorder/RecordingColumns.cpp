#include "recorder/RecordingColumns.h"

#include "recorder/RecordingCsv.h"
#include "recorder/RecordingFile.h"

#include <deque>

namespace tessor::rec {

namespace file {

namespace {

constexpr const char* kRawColumns[6] = {"error_value_reg", "tx_level_reg",   "rs_corrected_reg",
                                        "link_status_reg", "line_flags_reg", "link_fail_reg"};

} // namespace

std::vector<std::string> ColumnNames() {
    std::vector<std::string> names{"time_utc", "monotonic_ms", "type"};
    for (const char* raw : kRawColumns)
        names.emplace_back(raw);
    for (const char* name : {"snr_db", "mse_db", "rs_per_s", "tx_power_dbm_hz", "link_fail_count"})
        names.emplace_back(name);
    for (int i = 0; i < kIndicatorCount; ++i)
        names.emplace_back(IndicatorColumn(i));
    names.emplace_back("answered");
    for (const char* suffix : {"_read", "_total", "_per_s"}) {
        for (const CounterDef& c : kCounters)
            names.push_back(std::string(c.name) + suffix);
    }
    names.emplace_back("event");
    names.emplace_back("detail");
    return names;
}

std::string FormerColumnName(const std::string& name) {
    static const std::pair<const char*, const char*> kFormer[] = {
        {"tc_sync", "tc_synchronized"},
        {"remote_sync", "remote_synchronized"},
        {"tx_pause_frames", "tx_pause"},
        {"rx_pause_frames", "rx_pause"},
        {"rx_broadcast_frames", "rx_broadcast"},
        {"frame_too_long_errors", "frame_too_long"},
        {"frame_check_sequence_errors", "frame_check_errors"},
    };
    for (const auto& [now, before] : kFormer) {
        const std::string prefix(now);
        if (name.compare(0, prefix.size(), prefix) == 0 &&
            (name.size() == prefix.size() || name[prefix.size()] == '_'))
            return before + name.substr(prefix.size());
    }
    return std::string();
}

bool MatchHeader(std::string_view line, std::vector<int>* columnOf, std::size_t* fieldCount,
                 std::string* missing) {
    if (line.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
        line.remove_prefix(kByteOrderMark.size());
    std::vector<std::string_view> fields;
    std::deque<std::string> unquoted;
    SplitLine(line.data(), line.data() + line.size(), &fields, &unquoted);
    *fieldCount = fields.size();
    const std::vector<std::string> names = ColumnNames();
    columnOf->assign(names.size(), -1);
    for (std::size_t c = 0; c < names.size(); ++c) {
        const std::string former = FormerColumnName(names[c]);
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (fields[f] == names[c] || (!former.empty() && fields[f] == former))
                (*columnOf)[c] = static_cast<int>(f);
        }
        if ((*columnOf)[c] < 0 && c != kColDetail && (c < kColRateFirst || c >= kColEvent)) {
            *missing = names[c];
            return false;
        }
    }
    return true;
}

} // namespace file

const std::string& RecordingHeader() {
    static const std::string header = [] {
        std::string h;
        for (const std::string& name : file::ColumnNames()) {
            if (!h.empty())
                h.push_back(',');
            h += name;
        }
        return h;
    }();
    return header;
}

} // namespace tessor::rec
