#pragma once

// The names under which the tool publishes its values. Each value has one machine name, used as its key in
// every JSON output (tessor-cli status, linetest, counters, verify and diff, fleet list, the fleet backup's
// summary, an error's document, the monitor's JSON lines) and as its recording column, with its unit and a
// help text (also its metric's HELP text), and the metric family that carries it where it has one. Metric
// names keep their own spelling (base units, `_total` for counters) in the families of MetricNames.h. The
// keys that give the JSON documents their structure (the fleet's lines among them) are here too, so that no
// document spells a key of its own. Indicators and Ethernet counters take their names from kIndicatorDefs
// and kCounterDefs in LineVocabulary.h.

#include "model/MetricNames.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessor {

// The outputs a name is published in, as bits of PublishedName::outputs.
enum PublishedOutput : unsigned {
    kInStatusJson = 1u << 0,   // tessor-cli --json status
    kInJsonLine = 1u << 1,     // the monitor's JSON lines
    kInMetrics = 1u << 2,      // the monitor's metrics page
    kInRecording = 1u << 3,    // the recording file's columns
    kInLineTestJson = 1u << 4, // tessor-cli --json linetest
    kInFleetJson = 1u << 5,    // tessor-cli fleet's JSON lines
    // Names beside the values: the line test report's row and criterion ids, and the criteria file's
    // names with the criteria that --skip takes.
    kInLineTestReport = 1u << 6,
    kInCriteriaFile = 1u << 7,
    kInCountersJson = 1u << 8,   // tessor-cli --json counters
    kInCompareJson = 1u << 9,    // tessor-cli --json verify and diff
    kInFleetListJson = 1u << 10, // tessor-cli --json fleet list
    kInBackupJson = 1u << 11,    // tessor-cli fleet backup's summary line
    kInErrorJson = 1u << 12,     // the document of any --json command that failed
    kInRegisterJson = 1u << 13,  // tessor-cli --json read, write, or, and, reset, ...
    kInFileJson = 1u << 14,      // tessor-cli --json save, load, default and preset
    kInPortsJson = 1u << 15,     // tessor-cli --json ports
};

enum class Published {
    // Recording rows
    kTimeUtc,
    kMonotonicMs,
    kRowType,
    kErrorValueReg,
    kTxLevelReg,
    kRsCorrectedReg,
    kLinkStatusReg,
    kLineFlagsReg,
    kLinkFailReg,
    kAnswered,
    kEvent,
    kDetail,
    // The line
    kLineUp,
    kSnr,
    kMse,
    kRsCorrectedCount,
    kRsCorrectedPerSecond,
    kRsCorrectedTotal,
    kTxPower,
    kLinkFailCount,
    kLinkFailuresTotal,
    kIndicators,
    kLink,
    kLineRate,
    kCarrierFrequency,
    kEthernetTotals,
    // The monitor's poll loop
    kTime,
    kPort,
    kSide,
    kUp,
    kBoardInfo,
    kPollDuration,
    kLastGoodPass,
    kPollPasses,
    kReconnections,
    kTimeouts,
    kCorruptedReplies,
    kLastPassAge,
    kPollStale,
    kOutputDropped,
    // Line performance by interval
    kIntervalClass,
    kErroredIntervals,
    kErroredSeconds,
    kSeverelyErroredIntervals,
    kSeverelyErroredSeconds,
    kUnavailableIntervals,
    kUnavailableSeconds,
    kFecIntervals,
    kUnmeasuredIntervals,
    kAvailableSeconds,
    kUpSince,
    kSnrBaseline,
    // The console shared through the monitor
    kConsoleSessions,
    kConsoleClientsRefused,
    kConsoleCommandsPassed,
    kConsoleCommandsRefused,
    // The structure of the JSON documents: the keys that hold no value of the line themselves
    kDownstream,
    kUpstream,
    kRaw,
    kText,
    kTexts,
    kRsText,
    kLocal,
    kRemote,
    kSetting,
    kSideRaw,
    kPhy,
    kPhyReferenceRaw,
    kIdentification,
    kEthernetSpeed,
    kRawConfig,
    kRawCarrier,
    kConstellationPoints,
    kConstellationText,
    kInterpolation,
    kRateMbps,
    kRateText,
    kCarrier10kHz,
    kCarrierText,
    // The line test's document
    kVerdict,
    kNotRunReason,
    kStopped,
    kBoardLost,
    kSite,
    kOperator,
    kNote,
    kStart,
    kEnd,
    kDurationS,
    kPlannedS,
    kIntervalS,
    kPasses,
    kUnansweredPasses,
    kGarbledPasses,
    kFirst,
    kLast,
    kChange,
    kMicroInterruptions,
    kDownPasses,
    kDropsS,
    kEthernetSeconds,
    kIntervals,
    kAvailableIntervals,
    kFecSeconds,
    kUnmeasuredSeconds,
    kEsr,
    kSesr,
    kAvailability,
    kSevereErrorPercent,
    kBefore,
    kAfter,
    kSettingsOutcome,
    kOutcome,
    kMin,
    kMean,
    kMax,
    kSampleCount,
    kCriteria,
    kCriterionName,
    kCaption,
    kChecked,
    kPassed,
    kLimit,
    kMeasured,
    kFirstBreachS,
    kReport,
    kReportError,
    // The fleet's result lines
    kBoard,
    kCommand,
    kExitCode,
    kDurationSeconds,
    kMessage,
    kDetails,
    kFailedCriteria,
    kError,
    // The fleet list's document
    kInventory,
    kBoards,
    kConfig,
    kGroups,
    // The backup's summary line
    kRepository,
    kCommitted,
    kChanged,
    kAdded,
    kFailed,
    kCommit,
    kSubject,
    // The counters command's document
    kComplete,
    kCounts,
    kFigures,
    // A configuration compared with a board or another one
    kFile,
    kEqual,
    kCompared,
    kDifferences,
    kRegister,
    kChanges,
    kNotCompared,
    kSidesDiffer,
    kRegisters,
    kWords,
    // A register command's, a file command's and the ports' documents
    kOperation,
    kTarget,
    kAddress,
    kValues,
    kValue,
    kAction,
    kSize,
    kWritten,
    kRestarted,
    kRemoteWritten,
    kLocalWritten,
    kNtSideNotice,
    kPreset,
    kLocalSpeed,
    kRemoteSpeed,
    kPorts,
    kDevices,
    kKernelName,
    kDevice,
    kById,
    kDriver,
    kVendorId,
    kProductId,
    kManufacturer,
    kProduct,
    kSerialNumber,
    kPresent,
    kMayOpen,
    kGroup,
    kAdvice,
    kSource,
    kNetwork,
    kAccessible,
    kCount
};

struct PublishedName {
    Published value;
    const char* name;    // machine name: JSON key and recording column
    const char* unit;    // empty for flags, texts and counts of events
    const char* help;    // one sentence; also the HELP text of its metric family
    MetricFamily metric; // the metric family that carries it, or kMetricFamilyCount
    unsigned outputs;    // PublishedOutput bits
};

// The values from this one on name the structure of the JSON documents, not figures of the line.
constexpr Published kFirstDocumentKey = Published::kDownstream;

// In the order of Published.
extern const PublishedName kPublishedNames[static_cast<std::size_t>(Published::kCount)];

const PublishedName& Describe(Published value);
inline const char* NameOf(Published value) {
    return Describe(value).name;
}

// The HELP text of a metric family: the help of the published value it carries.
const char* MetricHelp(MetricFamily family);

// The recording columns of each Ethernet counter: its name with one of these suffixes (the raw count of
// one read, the sum of the raw counts, the raw count over the real time since the sample before).
constexpr const char* kCounterColumnSuffixes[] = {"_read", "_total", "_per_second"};

// A name an earlier version published, and the name that took its place in that output (nullptr: left
// out). A name starting with "_" is a suffix; a recording column name also renames the columns that
// begin with it ("tx_pause" -> "tx_pause_read", ...).
struct Rename {
    const char* former;
    PublishedOutput output;
    const char* now;
};
constexpr std::size_t kRenameCount = 33;
extern const std::array<Rename, kRenameCount> kRenames;

// The names a recording column had in files written by earlier versions, which the reader still takes.
std::vector<std::string> FormerColumnNames(const std::string& column);

// A name as it is spelled now in that output: a former name's successor, else the name itself.
std::string_view CurrentSpelling(std::string_view name, PublishedOutput output);

} // namespace tessor
