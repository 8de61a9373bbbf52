#pragma once

// The names the line acceptance test publishes beside the values of PublishedNames.h: its criteria (in its
// JSON, its report, `tessor-cli linetest --skip` and the criteria file) and the ids of the report's rows
// that programs read. Stored reports, criteria files and scripts rely on these spellings.

#include "model/PublishedNames.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace tessor {

enum class CriterionId {
    MinSnr,
    NoLineDrop,
    LinkFailUnchanged,
    RsPerSecond,
    NoEthernetErrors,
    NoUnavailableInterval,
    ErroredRatio,
    SeverelyErroredRatio,
    Answered
};
constexpr std::size_t kCriterionCount = 9;

struct CriterionDef {
    CriterionId id;
    const char* name;     // machine name: "name" in the JSON, data-criterion in the report, --skip
    const char* caption;  // the report's and the dialog's caption
    bool optional;        // may be left out (--skip, check_<name> = no in a criteria file)
    const char* limitKey; // the criteria file's name of its limit, or nullptr when it has none
};

// In the order of CriterionId.
extern const CriterionDef kCriteria[kCriterionCount];

const CriterionDef& Describe(CriterionId id);
inline const char* CriterionName(CriterionId id) {
    return Describe(id).name;
}
inline const char* CriterionCaption(CriterionId id) {
    return Describe(id).caption;
}
// The criteria file's yes/no name of a criterion that may be left out: "check_" and its name.
constexpr const char* kCriterionCheckPrefix = "check_";

// The criterion that may be left out under this machine name or its former one, or none.
const CriterionDef* OptionalCriterion(std::string_view name);
// The criterion whose limit the criteria file sets under this name or its former one, or none.
const CriterionDef* CriterionOfLimitKey(std::string_view key);

// The report's rows that carry figures for programs (their data-figure ids).
enum class ReportRow {
    kSite,
    kOperator,
    kNote,
    kStart,
    kEnd,
    kDuration,
    kInterval,
    kTool,
    kBoardBefore,
    kBoardAfter,
    kSnr,
    kMse,
    kPower,
    kRsTotal,
    kRsPerSecond,
    kLinkFail,
    kLinkFailChange,
    kDrops,
    kMicroInterruptions,
    kPasses,
    kUnansweredPasses,
    kGarbledPasses,
    kIntervals,
    kErroredIntervals,
    kSeverelyErroredIntervals,
    kUnavailableIntervals,
    kUnmeasuredIntervals,
    kFecIntervals,
    kErroredRatio,
    kSeverelyErroredRatio,
    kAvailability,
    kSevereErrorThreshold,
    kSnrBaseline,
    kCount
};

struct ReportRowDef {
    ReportRow row;
    const char* id;                 // data-figure; nullptr: the name of the value it shows
    std::optional<Published> shows; // the published value the row shows, if it shows one
};

// In the order of ReportRow.
extern const ReportRowDef kReportRows[static_cast<std::size_t>(ReportRow::kCount)];

const ReportRowDef& Describe(ReportRow row);
inline const char* ReportRowId(ReportRow row) {
    const ReportRowDef& d = Describe(row);
    return d.id ? d.id : NameOf(*d.shows);
}
// The row of each Ethernet counter: this and the counter's machine name ("eth_rx_frames").
constexpr const char* kReportEthernetRowPrefix = "eth_";

// A criterion's result in the report's data-result.
constexpr const char* kCriterionNotChecked = "not_checked";
constexpr const char* kCriterionPassed = "passed";
constexpr const char* kCriterionFailed = "failed";

} // namespace tessor
