#include "model/PublishedNames.h"

#include "model/LineVocabulary.h"

#include <utility>

namespace tessor {

namespace {

constexpr unsigned kAllJson = kInStatusJson | kInJsonLine | kInLineTestJson;
constexpr unsigned kBoardJson = kInStatusJson | kInLineTestJson; // a board's settings and identification
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
    {Published::kAnswered, "answered", "", "1 when the board answered the row's pass; a value whose reply came back garbled is empty.", kNoMetric, kInRecording | kInStatusJson},
    {Published::kEvent, "event", "", "The machine name of an event row.", kNoMetric, kInRecording},
    {Published::kDetail, "detail", "", "The text of an event row.", kNoMetric, kInRecording},

    {Published::kLineUp, "line_up", "", "1 when the line to the remote modem is up.", kMetricLineUp, kAllJson | kInMetrics | kInFileJson},
    {Published::kSnr, "snr_db", "dB", "Signal-to-noise ratio of the received signal in dB.", kMetricLineSnr, kAllJson | kInMetrics | kInRecording},
    {Published::kMse, "mse_db", "dB", "Mean square error of the received signal in dB.", kMetricLineMse, kAllJson | kInMetrics | kInRecording},
    {Published::kRsCorrectedCount, "rs_corrected_count", "",
     "Corrected Reed-Solomon errors since the read before: the raw count of 8C91..8C94.", kNoMetric,
     kInStatusJson | kInJsonLine},
    {Published::kRsCorrectedPerSecond, "rs_corrected_per_second", "1/s",
     "Corrected Reed-Solomon errors per second over the real time the counts cover.", kNoMetric,
     kInJsonLine | kInLineTestJson | kInRecording},
    {Published::kRsCorrectedTotal, "rs_corrected_total", "",
     "Corrected Reed-Solomon errors: the sum of the raw counts read since the monitor started.", kMetricRsCorrectedTotal, kInJsonLine | kInLineTestJson | kInMetrics},
    {Published::kTxPower, "tx_power_dbm_hz", "dBm/Hz", "Transmitted power spectral density in dBm/Hz.", kMetricTransmitPower, kAllJson | kInMetrics | kInRecording},
    {Published::kLinkFailCount, "link_fail_count", "", "The modem's 8-bit link fail counter (8D38).", kNoMetric, kAllJson | kInRecording},
    {Published::kLinkFailuresTotal, "link_failures_total", "",
     "Link failures since the monitor started: the increases of the modem's 8-bit link fail counter, " "counted over its wraps.", kMetricLinkFailuresTotal, kInMetrics},
    {Published::kIndicators, "indicators", "",
     "Status indicator: 1 when its condition is present, 0 when not.", kMetricIndicator,
     kInStatusJson | kInJsonLine | kInMetrics},
    {Published::kLink, "link", "", "The line settings of each direction.", kNoMetric, kInJsonLine},
    {Published::kLineRate, "line_rate_bytes_per_second", "B/s", "Line rate of the current line settings.", kMetricLineRate, kInJsonLine | kInMetrics},
    {Published::kCarrierFrequency, "carrier_hertz", "Hz", "Carrier frequency of the current line settings.", kMetricCarrierFrequency, kInJsonLine | kInMetrics},
    {Published::kEthernetTotals, "ethernet_totals", "",
     "The sums of the raw counts of each Ethernet counter since the monitor, the line test or the counters command started.",
     kNoMetric, kInJsonLine | kInLineTestJson | kInCountersJson},

    {Published::kTime, "time", "s", "Unix time the poll pass started.", kNoMetric, kInJsonLine},
    {Published::kPort, "port", "", "The serial port or address of the board.", kNoMetric, kInJsonLine | kInFleetJson | kInFleetListJson},
    {Published::kSide, "side", "", "The local modem's side of the line; where a file is compared with the board, the file's and the board's.", kNoMetric,
     kInStatusJson | kInJsonLine | kInCompareJson | kInFleetListJson | kInFileJson},
    {Published::kUp, "up", "", "1 when the board answered the last poll pass, 0 when it did not.", kMetricUp, kInJsonLine | kInMetrics},
    {Published::kBoardInfo, "board_info", "", "Board identification registers 8C72, 8C73 and 8C6F; always 1.", kMetricBoardInfo, kInMetrics},
    {Published::kPollDuration, "poll_duration_seconds", "s", "Time the last poll pass took.", kMetricPollDuration, kInJsonLine | kInMetrics},
    {Published::kLastGoodPass, "last_good_pass_timestamp_seconds", "s",
     "Unix time of the last pass the board answered.", kMetricLastGoodPass,
     kInMetrics},
    {Published::kPollPasses, "poll_passes_total", "", "Poll passes made.", kMetricPollPasses, kInMetrics},
    {Published::kReconnections, "reconnections", "", "Times the board answered again after it had been lost.", kMetricReconnections, kInJsonLine | kInMetrics},
    {Published::kTimeouts, "timeouts", "", "Commands the board did not answer in time.", kMetricTimeouts, kInJsonLine | kInMetrics},
    {Published::kCorruptedReplies, "corrupted_replies", "",
     "Garbled replies (a wrong echo, or not the answer asked for), skipped.", kMetricCorruptedReplies, kInJsonLine | kInMetrics},
    {Published::kLastPassAge, "last_pass_age_seconds", "s", "Seconds since the poll loop last completed a pass.", kMetricLastPassAge, kInMetrics},
    {Published::kPollStale, "poll_stale", "",
     "1 when no pass completed for three intervals plus the answer wait: the readings are left out.", kMetricPollStale, kInMetrics},
    {Published::kOutputDropped, "output_dropped_total", "",
     "Passes an output (JSON lines, recording) had no room for and did not get.", kMetricOutputDropped, kInMetrics},

    {Published::kIntervalClass, "interval_class", "",
     "The class of the interval the pass ends: unavailable, severely_errored, errored, fec, good or unmeasured.",
     kNoMetric, kInRecording},
    {Published::kErroredIntervals, "errored_intervals", "", "Poll intervals with at least one FCS or receive error, or severely errored, while the line was " "available. An interval is one poll pass, not one second.", kMetricErroredIntervals, kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kErroredSeconds, "errored_seconds", "s", "The time the errored intervals cover: their lengths summed.", kMetricErroredSeconds, kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kSeverelyErroredIntervals, "severely_errored_intervals", "",
     "Poll intervals with a retrain or errors of at least the severe share of the frames received, while " "the line was available. An interval is one poll pass, not one second.", kMetricSeverelyErroredIntervals,
     kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kSeverelyErroredSeconds, "severely_errored_seconds", "s",
     "The time the severely errored intervals cover: their lengths summed.", kMetricSeverelyErroredSeconds, kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kUnavailableIntervals, "unavailable_intervals", "", "Poll intervals that saw the line down or lay in an unavailable period (from 10 consecutive severely " "errored intervals to before 10 that were not).", kMetricUnavailableIntervals, kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kUnavailableSeconds, "unavailable_seconds", "s", "The time the unavailable intervals cover: their lengths summed.", kMetricUnavailableSeconds, kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kFecIntervals, "fec_intervals", "", "Poll intervals in which corrected Reed-Solomon errors were counted, while the line was available.", kMetricFecIntervals, kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kUnmeasuredIntervals, "unmeasured_intervals", "", "Poll intervals not measured: a read at either end went without an answer.", kMetricUnmeasuredIntervals, kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kAvailableSeconds, "available_seconds", "s",
     "The time the measured intervals outside unavailable periods cover: the base of the errored and " "severely errored second ratios.", kMetricAvailableSeconds,
     kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kUpSince, "up_since", "s", "Unix time the current sync began, as the poll passes saw it; absent while the line is down.", kMetricUpSince, kInJsonLine | kInMetrics},
    {Published::kSnrBaseline, "snr_baseline_db", "dB", "The SNR the line was accepted with, as configured for the board.", kMetricSnrBaseline, kInJsonLine | kInMetrics | kInLineTestJson},
    {Published::kConsoleSessions, "console_sessions_total", "",
     "Clients let in on the board's console through the monitor's console port.", kMetricConsoleSessions, kInMetrics},
    {Published::kConsoleClientsRefused, "console_clients_refused_total", "",
     "Clients turned away from the monitor's console port while another held it.", kMetricConsoleClientsRefused,
     kInMetrics},
    {Published::kConsoleCommandsPassed, "console_commands_passed_total", "",
     "Console lines of clients passed to the board between two of the monitor's commands.", kMetricConsoleCommandsPassed, kInMetrics},
    {Published::kConsoleCommandsRefused, "console_commands_refused_total", "",
     "Write, or and and commands of clients answered with the board's error reply and not sent: the " "console port is read-only.", kMetricConsoleCommandsRefused,
     kInMetrics},
    {Published::kDownstream, "downstream", "", "The line settings of the downstream direction.", kNoMetric, kAllJson},
    {Published::kUpstream, "upstream", "", "The line settings of the upstream direction.", kNoMetric, kAllJson},
    {Published::kRaw, "raw", "", "The registers as read, each under its address (the counters in their order); null for a read not answered. Of a register command, its raw answer.", kNoMetric, kInStatusJson | kInCountersJson | kInRegisterJson},
    {Published::kText, "text", "", "A register's value as the window tool shows it; of a register read, the bytes read in hex.", kNoMetric, kInStatusJson | kInRegisterJson},
    {Published::kTexts, "texts", "", "The PHY values as the PHY Status page shows them, each under its name.", kNoMetric, kInStatusJson},
    {Published::kRsText, "rs", "", "Corrected RS errors as the PHY Status page shows them: the raw count divided by 5.", kNoMetric, kInStatusJson},
    {Published::kLocal, "local", "", "The local modem's part.", kNoMetric, kBoardJson},
    {Published::kRemote, "remote", "", "The remote modem's part.", kNoMetric, kBoardJson},
    {Published::kSetting, "setting", "", "The Ethernet port speed setting (1..5); null when the register names none.", kNoMetric, kInStatusJson},
    {Published::kSideRaw, "raw_8C70", "", "The raw side register (8C70).", kNoMetric, kInStatusJson},
    {Published::kPhy, "phy", "", "One PHY pass.", kNoMetric, kInStatusJson},
    {Published::kPhyReferenceRaw, "phy_reference_raw", "", "The raw constellation register the SNR and MSE references come from.", kNoMetric, kInStatusJson},
    {Published::kIdentification, "identification", "", "Board identification registers 8C72, 8C73 and 8C6F.", kNoMetric, kInStatusJson},
    {Published::kEthernetSpeed, "ethernet_speed", "", "The Ethernet port speed setup of each modem.", kNoMetric, kBoardJson},
    {Published::kRawConfig, "raw_config", "", "The raw line configuration register of the direction.", kNoMetric, kBoardJson},
    {Published::kRawCarrier, "raw_carrier", "", "The raw carrier register of the direction.", kNoMetric, kBoardJson},
    {Published::kConstellationPoints, "constellation_points", "", "The constellation's number of points (QAM size).", kNoMetric, kBoardJson},
    {Published::kConstellationText, "constellation_text", "", "The constellation as the Line Settings page shows it.", kNoMetric, kBoardJson},
    {Published::kInterpolation, "interpolation", "", "The interpolation factor.", kNoMetric, kBoardJson},
    {Published::kRateMbps, "rate_mbps", "Mbit/s", "The line rate of the direction.", kNoMetric, kBoardJson},
    {Published::kRateText, "rate_text", "", "The line rate as the Line Settings page shows it.", kNoMetric, kBoardJson},
    {Published::kCarrier10kHz, "carrier_10khz", "10 kHz", "The carrier frequency of the direction, in steps of 10 kHz.", kNoMetric, kBoardJson},
    {Published::kCarrierText, "carrier_text", "", "The carrier frequency as the Line Settings page shows it.", kNoMetric, kBoardJson},

    {Published::kVerdict, "verdict", "", "The line test's verdict: passed, failed or not_run.", kNoMetric, kInLineTestJson},
    {Published::kNotRunReason, "not_run_reason", "", "Why the line test did not run; null when it ran.", kNoMetric, kInLineTestJson},
    {Published::kStopped, "stopped", "", "True when the line test was stopped before its end.", kNoMetric, kInLineTestJson},
    {Published::kBoardLost, "board_lost", "", "True when the board stopped answering during the line test.", kNoMetric, kInLineTestJson},
    {Published::kSite, "site", "", "The site the board is at.", kNoMetric, kInLineTestJson | kInFleetJson | kInJsonLine | kInFleetListJson},
    {Published::kOperator, "operator", "", "Who ran the line test.", kNoMetric, kInLineTestJson},
    {Published::kNote, "note", "", "The note given to the line test.", kNoMetric, kInLineTestJson},
    {Published::kStart, "start", "", "When the line test started, as local time.", kNoMetric, kInLineTestJson},
    {Published::kEnd, "end", "", "When the line test ended, as local time.", kNoMetric, kInLineTestJson},
    {Published::kDurationS, "duration_s", "s", "The time the line test ran.", kNoMetric, kInLineTestJson},
    {Published::kPlannedS, "planned_s", "s", "The time the line test was to run.", kNoMetric, kInLineTestJson},
    {Published::kIntervalS, "interval_s", "s", "The time between two passes.", kNoMetric, kInLineTestJson | kInCountersJson},
    {Published::kPasses, "passes", "", "The passes made: the line test's count of them, the counters command's each with its counts.", kNoMetric, kInLineTestJson | kInCountersJson},
    {Published::kUnansweredPasses, "unanswered_passes", "", "Passes with a read the board did not answer.", kNoMetric, kInLineTestJson},
    {Published::kGarbledPasses, "garbled_passes", "", "Passes with a garbled reply.", kNoMetric, kInLineTestJson},
    {Published::kFirst, "first", "", "The first value read.", kNoMetric, kInLineTestJson},
    {Published::kLast, "last", "", "The last value read.", kNoMetric, kInLineTestJson},
    {Published::kChange, "change", "", "The last value read less the first.", kNoMetric, kInLineTestJson},
    {Published::kMicroInterruptions, "micro_interruptions", "", "Passes that saw the micro interruption indicator.", kNoMetric, kInLineTestJson},
    {Published::kDownPasses, "down_passes", "", "Passes that saw the line down.", kNoMetric, kInLineTestJson},
    {Published::kDropsS, "drops_s", "s", "When the line dropped, from the line test's start.", kNoMetric, kInLineTestJson},
    {Published::kEthernetSeconds, "ethernet_seconds", "s", "The time the Ethernet totals cover.", kNoMetric, kInLineTestJson},
    {Published::kIntervals, "intervals", "", "The test's passes as intervals: their counts and the seconds they cover, by class.", kNoMetric, kInLineTestJson},
    {Published::kAvailableIntervals, "available_intervals", "", "Measured intervals outside unavailable periods.", kNoMetric, kInLineTestJson},
    {Published::kFecSeconds, "fec_seconds", "s", "The time the FEC intervals cover: their lengths summed.", kNoMetric, kInLineTestJson},
    {Published::kUnmeasuredSeconds, "unmeasured_seconds", "s", "The time the unmeasured intervals cover: their lengths summed.", kNoMetric, kInLineTestJson},
    {Published::kEsr, "esr", "", "Errored intervals' share of the available time (0 to 1); null when nothing was measured.", kNoMetric, kInLineTestJson},
    {Published::kSesr, "sesr", "", "Severely errored intervals' share of the available time (0 to 1); null when nothing was measured.", kNoMetric, kInLineTestJson},
    {Published::kAvailability, "availability", "", "The share of the measured time the line was available (0 to 1).", kNoMetric, kInLineTestJson},
    {Published::kSevereErrorPercent, "severe_error_percent", "%", "Errors of at least this share of the frames received make an interval severely errored.", kNoMetric, kInLineTestJson | kInCriteriaFile},
    {Published::kBefore, "before", "", "The board as read before the line test; the first configuration of a comparison, or a change's value in it.", kNoMetric, kInLineTestJson | kInCompareJson},
    {Published::kAfter, "after", "", "The board as read after the line test; the second configuration of a comparison, or a change's value in it.", kNoMetric, kInLineTestJson | kInCompareJson},
    {Published::kSettingsOutcome, "settings_outcome", "", "The outcome of reading the line settings.", kNoMetric, kInLineTestJson},
    {Published::kOutcome, "outcome", "", "The outcome of a read, or of a board's command in a fleet run.", kNoMetric, kInLineTestJson | kInFleetJson},
    {Published::kMin, "min", "", "The least value of the passes.", kNoMetric, kInLineTestJson},
    {Published::kMean, "mean", "", "The mean value of the passes.", kNoMetric, kInLineTestJson},
    {Published::kMax, "max", "", "The greatest value of the passes.", kNoMetric, kInLineTestJson},
    {Published::kSampleCount, "count", "", "The passes that gave the value; of a register read, the bytes read.", kNoMetric, kInLineTestJson | kInRegisterJson},
    {Published::kCriteria, "criteria", "", "The line test's criteria with their results; in the fleet list, the criteria file the board's line test takes, null when none.", kNoMetric, kInLineTestJson | kInFleetListJson},
    {Published::kCriterionName, "name", "", "The machine name of a criterion, of a change or of a port.", kNoMetric, kInLineTestJson | kInCompareJson | kInPortsJson},
    {Published::kCaption, "caption", "", "The caption of a criterion, or of a change as the page shows it.", kNoMetric, kInLineTestJson | kInCompareJson},
    {Published::kChecked, "checked", "", "True when the criterion was checked.", kNoMetric, kInLineTestJson},
    {Published::kPassed, "passed", "", "True when the criterion was met.", kNoMetric, kInLineTestJson},
    {Published::kLimit, "limit", "", "The criterion's limit as text.", kNoMetric, kInLineTestJson},
    {Published::kMeasured, "measured", "", "What the line test measured for the criterion, as text.", kNoMetric, kInLineTestJson},
    {Published::kFirstBreachS, "first_breach_s", "s", "When the criterion was first not met, from the line test's start.", kNoMetric, kInLineTestJson},
    {Published::kReport, "report", "", "The report file written; null when none was.", kNoMetric, kInLineTestJson},
    {Published::kReportError, "report_error", "", "Why the report file could not be written.", kNoMetric, kInLineTestJson},

    {Published::kBoard, "board", "", "The board's name in the inventory; where a file is compared with the board, the board's value.", kNoMetric, kInFleetJson | kInCompareJson | kInJsonLine | kInFleetListJson},
    {Published::kCommand, "command", "", "The command run on the board, the fleet command that wrote the line, or the register command sent.", kNoMetric, kInFleetJson | kInBackupJson | kInRegisterJson},
    {Published::kExitCode, "exit_code", "", "The exit code the command would have had on its own; in an error document, the command's exit code.", kNoMetric, kInFleetJson | kInErrorJson},
    {Published::kDurationSeconds, "duration_seconds", "s", "The time the command took on the board.", kNoMetric, kInFleetJson},
    {Published::kMessage, "message", "", "What went wrong; null when nothing did.", kNoMetric, kInFleetJson | kInErrorJson},
    {Published::kDetails, "details", "", "What the campaign keeps of the command's document.", kNoMetric, kInFleetJson},
    {Published::kFailedCriteria, "failed_criteria", "", "The names of the criteria the line test did not meet.", kNoMetric, kInFleetJson},
    {Published::kError, "error", "", "The machine name of what went wrong; of a port, why it could not be opened.", kNoMetric, kInErrorJson | kInPortsJson},
    {Published::kInventory, "inventory", "", "The inventory file the boards are listed in.", kNoMetric, kInFleetListJson},
    {Published::kBoards, "boards", "", "The boards selected, in the order the inventory lists them.", kNoMetric, kInFleetListJson},
    {Published::kConfig, "config", "", "The configuration file the board should hold; null when none.", kNoMetric, kInFleetListJson},
    {Published::kGroups, "groups", "", "Every group the board belongs to.", kNoMetric, kInFleetListJson},
    {Published::kRepository, "repository", "", "The git repository the saved configurations are committed to.", kNoMetric, kInBackupJson},
    {Published::kCommitted, "committed", "", "True when the backup made a commit.", kNoMetric, kInBackupJson},
    {Published::kChanged, "changed", "", "Boards whose saved configuration changed.", kNoMetric, kInBackupJson},
    {Published::kAdded, "added", "", "Boards saved for the first time.", kNoMetric, kInBackupJson},
    {Published::kFailed, "failed", "", "Boards that could not be saved.", kNoMetric, kInBackupJson},
    {Published::kCommit, "commit", "", "The new commit's id; null when none was made.", kNoMetric, kInBackupJson},
    {Published::kSubject, "subject", "", "The new commit's subject; null when none was made.", kNoMetric, kInBackupJson},

    {Published::kComplete, "complete", "", "True when the pass read every counter, false when it was interrupted.", kNoMetric, kInCountersJson},
    {Published::kCounts, "counts", "", "The raw count of each counter read: the events since the read before it; null for a read that delivered none.", kNoMetric, kInCountersJson},
    {Published::kFigures, "figures", "", "What the document's figures are, each in words under its key.", kNoMetric, kInCountersJson},

    {Published::kFile, "file", "", "The configuration file compared with the board, saved from it or loaded into it.", kNoMetric, kInCompareJson | kInFileJson},
    {Published::kEqual, "equal", "", "True when the two configurations hold the same settings.", kNoMetric, kInCompareJson},
    {Published::kCompared, "compared", "", "The registers compared.", kNoMetric, kInCompareJson},
    {Published::kDifferences, "differences", "", "The registers that differ, with the file's and the board's value; null for a value not there.", kNoMetric, kInCompareJson},
    {Published::kRegister, "register", "", "The address of a register that differs.", kNoMetric, kInCompareJson},
    {Published::kChanges, "changes", "", "What differs, in the words of the pages.", kNoMetric, kInCompareJson},
    {Published::kNotCompared, "not_compared", "", "The registers not compared, since their bytes mean something else on the other modem side.", kNoMetric, kInCompareJson},
    {Published::kSidesDiffer, "sides_differ", "", "True when the two configurations are of different modem sides.", kNoMetric, kInCompareJson},
    {Published::kRegisters, "registers", "", "The differing registers a change comes from; of a saved file, each register saved under its address.", kNoMetric, kInCompareJson | kInFileJson},
    {Published::kWords, "words", "", "The change as one line of text.", kNoMetric, kInCompareJson},

    {Published::kOperation, "operation", "", "The register operation: read, write, or or and.", kNoMetric, kInRegisterJson},
    {Published::kTarget, "target", "", "The modem the command went to: local or remote.", kNoMetric, kInRegisterJson},
    {Published::kAddress, "address", "", "The register address the operation starts at.", kNoMetric, kInRegisterJson},
    {Published::kValues, "values", "", "The bytes read, one number each.", kNoMetric, kInRegisterJson},
    {Published::kValue, "value", "", "The byte written or combined with the register.", kNoMetric, kInRegisterJson},
    {Published::kAction, "action", "", "The general action run.", kNoMetric, kInRegisterJson},
    {Published::kSize, "size", "", "The bytes written to the file.", kNoMetric, kInFileJson},
    {Published::kWritten, "written", "", "The registers written to the modem.", kNoMetric, kInFileJson},
    {Published::kRestarted, "restarted", "", "True when the modem was restarted.", kNoMetric, kInFileJson},
    {Published::kRemoteWritten, "remote_written", "", "True when every register of the remote modem was written.", kNoMetric, kInFileJson},
    {Published::kLocalWritten, "local_written", "", "True when every register of the local modem was written.", kNoMetric, kInFileJson},
    {Published::kNtSideNotice, "nt_side_notice", "", "True when the local modem is on the NT side, so the remote modem was left as it is and a notice given.", kNoMetric, kInFileJson},
    {Published::kPreset, "preset", "", "The line preset written.", kNoMetric, kInFileJson},
    {Published::kLocalSpeed, "local_speed", "", "The local Ethernet port speed setting written (1..3).", kNoMetric, kInFileJson},
    {Published::kRemoteSpeed, "remote_speed", "", "The remote Ethernet port speed setting written (1..3); null when none was.", kNoMetric, kInFileJson},
    {Published::kPorts, "ports", "", "The ports the tool can use.", kNoMetric, kInPortsJson},
    {Published::kDevices, "devices", "", "The USB serial devices found.", kNoMetric, kInPortsJson},
    {Published::kKernelName, "kernel_name", "", "The device's kernel name.", kNoMetric, kInPortsJson},
    {Published::kDevice, "device", "", "The device file or the address of a port.", kNoMetric, kInPortsJson},
    {Published::kById, "by_id", "", "The device's stable path under /dev/serial/by-id; null when it has none.", kNoMetric, kInPortsJson},
    {Published::kDriver, "driver", "", "The kernel driver bound to the device; null when unknown.", kNoMetric, kInPortsJson},
    {Published::kVendorId, "vendor_id", "", "The USB vendor id; null when unknown.", kNoMetric, kInPortsJson},
    {Published::kProductId, "product_id", "", "The USB product id; null when unknown.", kNoMetric, kInPortsJson},
    {Published::kManufacturer, "manufacturer", "", "The USB manufacturer text; null when unknown.", kNoMetric, kInPortsJson},
    {Published::kProduct, "product", "", "The USB product text; null when unknown.", kNoMetric, kInPortsJson},
    {Published::kSerialNumber, "serial_number", "", "The USB serial number; null when unknown.", kNoMetric, kInPortsJson},
    {Published::kPresent, "present", "", "True when the device file exists.", kNoMetric, kInPortsJson},
    {Published::kMayOpen, "may_open", "", "True when this user may open the device.", kNoMetric, kInPortsJson},
    {Published::kGroup, "group", "", "The group that owns the device file; null when unknown.", kNoMetric, kInPortsJson},
    {Published::kAdvice, "advice", "", "What to do so that this user may open the device; null when nothing is needed.", kNoMetric, kInPortsJson},
    {Published::kSource, "source", "", "Where the port was found.", kNoMetric, kInPortsJson},
    {Published::kNetwork, "network", "", "True when the port is an address on the network.", kNoMetric, kInPortsJson},
    {Published::kAccessible, "accessible", "", "True when the port could be opened.", kNoMetric, kInPortsJson},
};
// clang-format on

const PublishedName& Describe(Published value) {
    return kPublishedNames[static_cast<std::size_t>(value)];
}

const char* MetricHelp(MetricFamily family) {
    for (const PublishedName& p : kPublishedNames) {
        if (p.metric == family)
            return p.help;
    }
    return "";
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
    {"link_failures_total", kInJsonLine, nullptr},
    {"tessor_transmit_power_dbm_per_hertz", kInMetrics, "tessor_tx_power_dbm_per_hertz"},
    {"snr", kInStatusJson, "snr_db"},
    {"mse", kInStatusJson, "mse_db"},
    {"power", kInStatusJson, "tx_power_dbm_hz"},
    {"link_fail", kInStatusJson, "link_fail_count"},
    {"link_fail", kInLineTestJson, "link_fail_count"},
    {"constellation", kInLineTestJson, "constellation_points"},
    {"ethernet", kInLineTestJson, "ethernet_totals"},
    {"totals", kInCountersJson, "ethernet_totals"},
    {"snr", kInLineTestReport, "snr_db"},
    {"mse", kInLineTestReport, "mse_db"},
    {"power", kInLineTestReport, "tx_power_dbm_hz"},
    {"rs_total", kInLineTestReport, "rs_corrected_total"},
    {"rs_per_second", kInLineTestReport, "rs_corrected_per_second"},
    {"link_fail", kInLineTestReport, "link_fail_count"},
    {"rs_per_second", kInCriteriaFile, "rs_corrected_per_second"},
    {"max_rs_per_second", kInCriteriaFile, "max_rs_corrected_per_second"},
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

std::string_view CurrentSpelling(std::string_view name, PublishedOutput output) {
    for (const Rename& r : kRenames) {
        if (r.output == output && r.now && name == r.former)
            return r.now;
    }
    return name;
}

} // namespace tessor
