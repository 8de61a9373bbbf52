#include "model/MetricNames.h"

namespace tessor {

const std::array<MetricFamilyDef, kMetricFamilyCount> kMetricFamilies{{
    {"tessor_up", "gauge", "", "1 when the board answered the last poll pass, 0 when it did not."},
    {"tessor_line_up", "gauge", "", "1 when the line to the remote modem is up."},
    {"tessor_line_snr_decibels", "gauge", "decibels", "Signal-to-noise ratio of the received signal in dB."},
    {"tessor_line_mse_decibels", "gauge", "decibels", "Mean square error of the received signal in dB."},
    {"tessor_transmit_power_dbm_per_hertz", "gauge", "dbm_per_hertz",
     "Transmitted power spectral density in dBm/Hz."},
    {"tessor_indicator", "gauge", "", "Status indicator: 1 when its condition is present, 0 when not."},
    {"tessor_rs_corrected_errors_total", "counter", "",
     "Corrected Reed-Solomon errors: the sum of the raw counts read since the monitor started."},
    {"tessor_link_failures_total", "counter", "",
     "Link failures since the monitor started: the increases of the modem's 8-bit link fail counter, "
     "counted over its wraps."},
    {"tessor_board_info", "gauge", "", "Board identification registers 8C72, 8C73 and 8C6F; always 1."},
    {"tessor_line_rate_bytes_per_second", "gauge", "bytes_per_second",
     "Line rate of the current line settings."},
    {"tessor_carrier_frequency_hertz", "gauge", "hertz", "Carrier frequency of the current line settings."},
    {"tessor_poll_duration_seconds", "gauge", "seconds", "Time the last poll pass took."},
    {"tessor_last_good_pass_timestamp_seconds", "gauge", "seconds",
     "Unix time of the last pass the board answered."},
    {"tessor_poll_passes_total", "counter", "", "Poll passes made."},
    {"tessor_reconnections_total", "counter", "", "Times the board answered again after it had been lost."},
    {"tessor_timeouts_total", "counter", "", "Commands the board did not answer in time."},
    {"tessor_corrupted_replies_total", "counter", "",
     "Garbled replies (a wrong echo, or not the answer asked for), skipped."},
    {"tessor_last_pass_age_seconds", "gauge", "seconds",
     "Seconds since the poll loop last completed a pass."},
    {"tessor_poll_stale", "gauge", "",
     "1 when no pass completed for three intervals plus the answer wait: the readings are left out."},
    {"tessor_output_dropped_total", "counter", "",
     "Passes an output (JSON lines, recording) had no room for and did not get."},
    {"tessor_line_errored_intervals_total", "counter", "",
     "Poll intervals with at least one FCS or receive error, or severely errored, while the line was "
     "available. An interval is one poll pass, not one second."},
    {"tessor_line_severely_errored_intervals_total", "counter", "",
     "Poll intervals with a retrain or errors of at least the severe share of the frames received, while "
     "the line was available. An interval is one poll pass, not one second."},
    {"tessor_line_unavailable_intervals_total", "counter", "",
     "Poll intervals that saw the line down or lay in an unavailable period (from 10 consecutive severely "
     "errored intervals to before 10 that were not)."},
    {"tessor_line_fec_intervals_total", "counter", "",
     "Poll intervals in which corrected Reed-Solomon errors were counted, while the line was available."},
    {"tessor_line_unmeasured_intervals_total", "counter", "",
     "Poll intervals not measured: a read at either end went without an answer."},
    {"tessor_line_errored_seconds_total", "counter", "seconds",
     "The time the errored intervals cover: their lengths summed."},
    {"tessor_line_severely_errored_seconds_total", "counter", "seconds",
     "The time the severely errored intervals cover: their lengths summed."},
    {"tessor_line_unavailable_seconds_total", "counter", "seconds",
     "The time the unavailable intervals cover: their lengths summed."},
    {"tessor_line_up_since_timestamp_seconds", "gauge", "seconds",
     "Unix time the current sync began, as the poll passes saw it; absent while the line is down."},
    {"tessor_line_available_seconds_total", "counter", "seconds",
     "The time the measured intervals outside unavailable periods cover: the base of the errored and "
     "severely errored second ratios."},
    {"tessor_line_snr_baseline_decibels", "gauge", "decibels",
     "The SNR the line was accepted with, as configured for the board."},
    {"tessor_console_sessions_total", "counter", "",
     "Clients let in on the board's console through the monitor's console port."},
    {"tessor_console_clients_refused_total", "counter", "",
     "Clients turned away from the monitor's console port while another held it."},
    {"tessor_console_commands_passed_total", "counter", "",
     "Console lines of clients passed to the board between two of the monitor's commands."},
    {"tessor_console_commands_refused_total", "counter", "",
     "Write, or and and commands of clients answered with the board's error reply and not sent: the "
     "console port is read-only."},
}};

const std::array<const char*, kCounterDefCount> kEthernetCounterHelp{
    "Frames transmitted on the Ethernet port; the sum of the raw counts read.",
    "Frames received on the Ethernet port; the sum of the raw counts read.",
    "Pause frames transmitted; the sum of the raw counts read.",
    "Pause frames received; the sum of the raw counts read.",
    "Octets transmitted; the sum of the raw counts read.",
    "Octets received; the sum of the raw counts read.",
    "Broadcast frames received; the sum of the raw counts read.",
    "Frames sent after a single collision; the sum of the raw counts read.",
    "Frames sent after several collisions; the sum of the raw counts read.",
    "Late collisions; the sum of the raw counts read.",
    "Frames dropped after excessive collisions; the sum of the raw counts read.",
    "Receive errors; the sum of the raw counts read.",
    "Carrier sense errors; the sum of the raw counts read.",
    "Frames that were too long; the sum of the raw counts read.",
    "Frames with a bad frame check sequence; the sum of the raw counts read.",
};

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
