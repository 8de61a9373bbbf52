#include "model/PublishedNames.h"

#include "model/LineVocabulary.h"

#include <utility>

namespace tessor {

namespace {

constexpr unsigned kAllJson = kInStatusJson | kInJsonLine | kInLineTestJson;
constexpr MetricFamily kNoMetric = kMetricFamilyCount;

} // namespace

// clang-format off
const PublishedName kPublishedNames[static_cast<std::size_t>(Published::kCount)] = {
    {Published::kTimeUtc, "time_utc", "", "UTC time of the row, to the millisecond.", kNoMetric,
     kInRecording},
    {Published::kMonotonicMs, "monotonic_ms", "ms", "Monotonic clock of the row.", kNoMetric,
     kInRecording},
    {Published::kRowType, "type", "", "What the row holds: phy, eth or event.", kNoMetric, kInRecording},
    {Published::kErrorValueReg, "error_value_reg", "", "Raw error value register (8C99..8C9B).", kNoMetric, kInRecording},
    {Published::kTxLevelReg, "tx_level_reg", "", "Raw transmit level register (8C9C..8C9D).", kNoMetric,
     kInRecording},
    {Published::kRsCorrectedReg, "rs_corrected_reg", "", "Raw corrected RS error count (8C91..8C94).", kNoMetric, kInRecording},
    {Published::kLinkStatusReg, "link_status_reg", "", "Raw link status register (8C71).", kNoMetric,
     kInRecording},
    {Published::kLineFlagsReg, "line_flags_reg", "", "Raw line flags register (8C98).", kNoMetric,
     kInRecording},
    {Published::kLinkFailReg, "link_fail_reg", "", "Raw link fail counter register (8D38).", kNoMetric,
     kInRecording},
    {Published::kAnswered, "answered", "", "1 when the board answered the row's pass; a value whose reply came back garbled is empty.", kNoMetric, kInRecording},
    {Published::kEvent, "event", "", "The machine name of an event row.", kNoMetric, kInRecording},
    {Published::kDetail, "detail", "", "The text of an event row.", kNoMetric, kInRecording},

    {Published::kLineUp, "line_up", "", "1 when the line to the remote modem is up.", kMetricLineUp, kAllJson | kInMetrics},
    {Published::kSnr, "snr_db", "dB", "Signal-to-noise ratio of the received signal in dB.",
     kMetricLineSnr, kAllJson | kInMetrics | kInRecording},
    {Published::kMse, "mse_db", "dB", "Mean square error of the received signal in dB.",
     kMetricLineMse, kAllJson | kInMetrics | kInRecording},
    {Published::kRsCorrectedCount, "rs_corrected_count", "",
     "Corrected Reed-Solomon errors since the read before: the raw count of 8C91..8C94.", kNoMetric,
     kInStatusJson | kInJsonLine},
    {Published::kRsCorrectedPerSecond, "rs_corrected_per_second", "1/s",
     "Corrected Reed-Solomon errors per second over the real time the counts cover.", kNoMetric,
     kInJsonLine | kInLineTestJson | kInRecording},
    {Published::kRsCorrectedTotal, "rs_corrected_total", "",
     "Corrected Reed-Solomon errors: the sum of the raw counts read since the monitor started.",
     kMetricRsCorrectedTotal, kInJsonLine | kInLineTestJson | kInMetrics},
    {Published::kTxPower, "tx_power_dbm_hz", "dBm/Hz", "Transmitted power spectral density in dBm/Hz.",
     kMetricTransmitPower, kAllJson | kInMetrics | kInRecording},
    {Published::kLinkFailCount, "link_fail_count", "", "The modem's 8-bit link fail counter (8D38).", kNoMetric, kInStatusJson | kInJsonLine | kInRecording},
    {Published::kLinkFailuresTotal, "link_failures_total", "",
     "Link failures since the monitor started: the increases of the modem's 8-bit link fail counter, "
     "counted over its wraps.",
     kMetricLinkFailuresTotal, kInJsonLine | kInMetrics},
    {Published::kIndicators, "indicators", "",
     "Status indicator: 1 when its condition is present, 0 when not.", kMetricIndicator,
     kInStatusJson | kInJsonLine | kInMetrics},
    {Published::kLink, "link", "", "The line settings of each direction.", kNoMetric, kInJsonLine},
    {Published::kLineRate, "line_rate_bytes_per_second", "B/s", "Line rate of the current line settings.",
     kMetricLineRate, kInJsonLine | kInMetrics},
    {Published::kCarrierFrequency, "carrier_hertz", "Hz", "Carrier frequency of the current line settings.",
     kMetricCarrierFrequency, kInJsonLine | kInMetrics},
    {Published::kEthernetTotals, "ethernet_totals", "",
     "The sums of the raw counts of each Ethernet counter since the monitor started.", kNoMetric,
     kInJsonLine},

    {Published::kTime, "time", "s", "Unix time the poll pass started.", kNoMetric, kInJsonLine},
    {Published::kPort, "port", "", "The serial port or address polled.", kNoMetric, kInJsonLine},
    {Published::kSide, "side", "", "The local modem's side of the line.", kNoMetric,
     kInStatusJson | kInJsonLine},
    {Published::kUp, "up", "", "1 when the board answered the last poll pass, 0 when it did not.", kMetricUp, kInJsonLine | kInMetrics},
    {Published::kBoardInfo, "board_info", "", "Board identification registers 8C72, 8C73 and 8C6F; always 1.",
     kMetricBoardInfo, kInMetrics},
    {Published::kPollDuration, "poll_duration_seconds", "s", "Time the last poll pass took.",
     kMetricPollDuration, kInJsonLine | kInMetrics},
    {Published::kLastGoodPass, "last_good_pass_timestamp_seconds", "s",
     "Unix time of the last pass the board answered.", kMetricLastGoodPass,
     kInMetrics},
    {Published::kPollPasses, "poll_passes_total", "", "Poll passes made.", kMetricPollPasses, kInMetrics},
    {Published::kReconnections, "reconnections", "", "Times the board answered again after it had been lost.",
     kMetricReconnections, kInJsonLine | kInMetrics},
    {Published::kTimeouts, "timeouts", "", "Commands the board did not answer in time.", kMetricTimeouts, kInJsonLine | kInMetrics},
    {Published::kCorruptedReplies, "corrupted_replies", "",
     "Garbled replies (a wrong echo, or not the answer asked for), skipped.", kMetricCorruptedReplies, kInJsonLine | kInMetrics},
    {Published::kLastPassAge, "last_pass_age_seconds", "s", "Seconds since the poll loop last completed a pass.",
     kMetricLastPassAge, kInMetrics},
    {Published::kPollStale, "poll_stale", "",
     "1 when no pass completed for three intervals plus the answer wait: the readings are left out.",
     kMetricPollStale, kInMetrics},
    {Published::kOutputDropped, "output_dropped_total", "",
     "Passes an output (JSON lines, recording) had no room for and did not get.", kMetricOutputDropped, kInMetrics},

    {Published::kIntervalClass, "interval_class", "",
     "The class of the interval the pass ends: unavailable, severely_errored, errored, fec, good or unmeasured.",
     kNoMetric, kInRecording},
    {Published::kErroredIntervals, "errored_intervals", "", "Errored intervals while the line was available.",
     kMetricErroredIntervals, kInJsonLine | kInMetrics},
    {Published::kErroredSeconds, "errored_seconds", "s", "The time the errored intervals cover.",
     kMetricErroredSeconds, kInJsonLine | kInMetrics},
    {Published::kSeverelyErroredIntervals, "severely_errored_intervals", "",
     "Severely errored intervals while the line was available.", kMetricSeverelyErroredIntervals,
     kInJsonLine | kInMetrics},
    {Published::kSeverelyErroredSeconds, "severely_errored_seconds", "s",
     "The time the severely errored intervals cover.", kMetricSeverelyErroredSeconds, kInJsonLine | kInMetrics},
    {Published::kUnavailableIntervals, "unavailable_intervals", "", "Unavailable intervals.",
     kMetricUnavailableIntervals, kInJsonLine | kInMetrics},
    {Published::kUnavailableSeconds, "unavailable_seconds", "s", "The time the unavailable intervals cover.",
     kMetricUnavailableSeconds, kInJsonLine | kInMetrics},
    {Published::kFecIntervals, "fec_intervals", "", "Intervals with corrected RS errors while the line was available.",
     kMetricFecIntervals, kInJsonLine | kInMetrics},
    {Published::kUnmeasuredIntervals, "unmeasured_intervals", "", "Intervals not measured.",
     kMetricUnmeasuredIntervals, kInJsonLine | kInMetrics},
    {Published::kAvailableSeconds, "available_seconds", "s",
     "The time the measured intervals outside unavailable periods cover.", kMetricAvailableSeconds,
     kInJsonLine | kInMetrics},
    {Published::kUpSince, "up_since", "s", "Unix time the current sync began, as the poll passes saw it.",
     kMetricUpSince, kInJsonLine | kInMetrics},
    {Published::kSnrBaseline, "snr_baseline_db", "dB", "The SNR the line was accepted with.",
     kMetricSnrBaseline, kInJsonLine | kInMetrics},
    {Published::kConsoleSessions, "console_sessions_total", "",
     "Clients let in on the board's console through the monitor's console port.", kMetricConsoleSessions, kInMetrics},
    {Published::kConsoleClientsRefused, "console_clients_refused_total", "",
     "Clients turned away from the monitor's console port while another held it.", kMetricConsoleClientsRefused,
     kInMetrics},
    {Published::kConsoleCommandsPassed, "console_commands_passed_total", "",
     "Console lines of clients passed to the board between two of the monitor's commands.",
     kMetricConsoleCommandsPassed, kInMetrics},
    {Published::kConsoleCommandsRefused, "console_commands_refused_total", "",
     "Write, or and and commands of clients refused on a read-only console port.", kMetricConsoleCommandsRefused,
     kInMetrics},
};
// clang-format on

const PublishedName& Describe(Published value) {
    return kPublishedNames[static_cast<std::size_t>(value)];
}

const std::array<Rename, kRenameCount> kRenames{{
    {"tc_synchronized", kInRecording, "tc_sync"},
    {"remote_synchronized", kInRecording, "remote_sync"},
    {"tx_pause", kInRecording, "tx_pause_frames"},
    {"rx_pause", kInRecording, "rx_pause_frames"},
    {"rx_broadcast", kInRecording, "rx_broadcast_frames"},
    {"frame_too_long", kInRecording, "frame_too_long_errors"},
    {"frame_check_errors", kInRecording, "frame_check_sequence_errors"},
    {"rs_per_s", kInRecording, "rs_corrected_per_second"},
    {"_per_s", kInRecording, "_per_second"},
    {"snr_centi_db", kInStatusJson, "snr_db"},
    {"mse_centi_db", kInStatusJson, "mse_db"},
    {"transmit_power_dbm_per_hz", kInJsonLine, "tx_power_dbm_hz"},
    {"rs_per_second", kInLineTestJson, "rs_corrected_per_second"},
    {"rs_total", kInLineTestJson, "rs_corrected_total"},
    {"tessor_rs_corrected_errors_per_second", kInMetrics, nullptr},
}};

namespace {

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

std::vector<std::string> FormerColumnNames(const std::string& column) {
    // First the former suffixes, then the former beginnings of each spelling.
    std::vector<std::string> spellings{column};
    for (const Rename& r : kRenames) {
        const std::string now = r.now ? r.now : "";
        if (r.output == kInRecording && r.former[0] == '_' && EndsWith(column, now))
            spellings.push_back(column.substr(0, column.size() - now.size()) + r.former);
    }
    std::vector<std::string> former(spellings.begin() + 1, spellings.end());
    for (const std::string& spelling : spellings) {
        for (const Rename& r : kRenames) {
            const std::string now = r.now ? r.now : "";
            if (r.output != kInRecording || r.former[0] == '_' || now.empty() || !StartsWith(spelling, now))
                continue;
            if (spelling.size() == now.size() || spelling[now.size()] == '_')
                former.push_back(r.former + spelling.substr(now.size()));
        }
    }
    return former;
}

} // namespace tessor
