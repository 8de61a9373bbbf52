#include "model/MetricNames.h"

namespace tessor {

const std::array<MetricFamilyDef, kMetricFamilyCount> kMetricFamilies{{
    {"tessor_up", "gauge", ""},
    {"tessor_line_up", "gauge", ""},
    {"tessor_line_snr_decibels", "gauge", "decibels"},
    {"tessor_line_mse_decibels", "gauge", "decibels"},
    {"tessor_tx_power_dbm_per_hertz", "gauge", "dbm_per_hertz"},
    {"tessor_indicator", "gauge", ""},
    {"tessor_rs_corrected_errors_total", "counter", ""},
    {"tessor_link_failures_total", "counter", ""},
    {"tessor_board_info", "gauge", ""},
    {"tessor_line_rate_bytes_per_second", "gauge", "bytes_per_second"},
    {"tessor_carrier_frequency_hertz", "gauge", "hertz"},
    {"tessor_poll_duration_seconds", "gauge", "seconds"},
    {"tessor_last_good_pass_timestamp_seconds", "gauge", "seconds"},
    {"tessor_poll_passes_total", "counter", ""},
    {"tessor_reconnections_total", "counter", ""},
    {"tessor_timeouts_total", "counter", ""},
    {"tessor_corrupted_replies_total", "counter", ""},
    {"tessor_last_pass_age_seconds", "gauge", "seconds"},
    {"tessor_poll_stale", "gauge", ""},
    {"tessor_output_dropped_total", "counter", ""},
    {"tessor_line_errored_intervals_total", "counter", ""},
    {"tessor_line_severely_errored_intervals_total", "counter", ""},
    {"tessor_line_unavailable_intervals_total", "counter", ""},
    {"tessor_line_fec_intervals_total", "counter", ""},
    {"tessor_line_unmeasured_intervals_total", "counter", ""},
    {"tessor_line_errored_seconds_total", "counter", "seconds"},
    {"tessor_line_severely_errored_seconds_total", "counter", "seconds"},
    {"tessor_line_unavailable_seconds_total", "counter", "seconds"},
    {"tessor_line_up_since_timestamp_seconds", "gauge", "seconds"},
    {"tessor_line_available_seconds_total", "counter", "seconds"},
    {"tessor_line_snr_baseline_decibels", "gauge", "decibels"},
    {"tessor_console_sessions_total", "counter", ""},
    {"tessor_console_clients_refused_total", "counter", ""},
    {"tessor_console_commands_passed_total", "counter", ""},
    {"tessor_console_commands_refused_total", "counter", ""},
}};

std::string EthernetCounterMetric(int counter) {
    return std::string("tessor_") + kCounterDefs[static_cast<std::size_t>(counter)].name + "_total";
}

std::string EscapeLabelValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

} // namespace tessor
