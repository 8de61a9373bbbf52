#include "model/LineTestNames.h"

namespace tessor {

// clang-format off
const CriterionDef kCriteria[kCriterionCount] = {
    {CriterionId::MinSnr, "min_snr", "Minimum SNR", true, "min_snr"},
    {CriterionId::NoLineDrop, "no_line_drop", "No line drop", true, nullptr},
    {CriterionId::LinkFailUnchanged, "link_fail_unchanged", "Link fail counter unchanged", true, nullptr},
    {CriterionId::RsPerSecond, "rs_corrected_per_second", "Mean corrected RS errors per second", true, "max_rs_corrected_per_second"},
    {CriterionId::NoEthernetErrors, "no_ethernet_errors", "No Ethernet FCS or receive errors", true, nullptr},
    {CriterionId::NoUnavailableInterval, "no_unavailable_interval", "No unavailable interval", true, nullptr},
    {CriterionId::ErroredRatio, "esr", "Errored interval ratio (ESR)", true, "max_esr_percent"},
    {CriterionId::SeverelyErroredRatio, "sesr", "Severely errored interval ratio (SESR)", true, "max_sesr_percent"},
    {CriterionId::Answered, "answered_every_pass", "The board answered every pass", false, nullptr},
};

const ReportRowDef kReportRows[static_cast<std::size_t>(ReportRow::kCount)] = {
    {ReportRow::kSite, "site", std::nullopt},
    {ReportRow::kOperator, "operator", std::nullopt},
    {ReportRow::kNote, "note", std::nullopt},
    {ReportRow::kStart, "start", std::nullopt},
    {ReportRow::kEnd, "end", std::nullopt},
    {ReportRow::kDuration, "duration", std::nullopt},
    {ReportRow::kInterval, "interval", std::nullopt},
    {ReportRow::kTool, "tool", std::nullopt},
    {ReportRow::kBoardBefore, "board_before", Published::kLineUp},
    {ReportRow::kBoardAfter, "board_after", Published::kLineUp},
    {ReportRow::kSnr, nullptr, Published::kSnr},
    {ReportRow::kMse, nullptr, Published::kMse},
    {ReportRow::kPower, nullptr, Published::kTxPower},
    {ReportRow::kRsTotal, nullptr, Published::kRsCorrectedTotal},
    {ReportRow::kRsPerSecond, nullptr, Published::kRsCorrectedPerSecond},
    {ReportRow::kLinkFail, nullptr, Published::kLinkFailCount},
    {ReportRow::kLinkFailChange, "link_fail_change", std::nullopt},
    {ReportRow::kDrops, "drops", std::nullopt},
    {ReportRow::kMicroInterruptions, "micro_interruptions", std::nullopt},
    {ReportRow::kPasses, "passes", std::nullopt},
    {ReportRow::kUnansweredPasses, "unanswered_passes", std::nullopt},
    {ReportRow::kGarbledPasses, "garbled_passes", std::nullopt},
    {ReportRow::kIntervals, nullptr, Published::kIntervals},
    {ReportRow::kErroredIntervals, nullptr, Published::kErroredIntervals},
    {ReportRow::kSeverelyErroredIntervals, nullptr, Published::kSeverelyErroredIntervals},
    {ReportRow::kUnavailableIntervals, nullptr, Published::kUnavailableIntervals},
    {ReportRow::kUnmeasuredIntervals, nullptr, Published::kUnmeasuredIntervals},
    {ReportRow::kFecIntervals, nullptr, Published::kFecIntervals},
    {ReportRow::kErroredRatio, nullptr, Published::kEsr},
    {ReportRow::kSeverelyErroredRatio, nullptr, Published::kSesr},
    {ReportRow::kAvailability, nullptr, Published::kAvailability},
    {ReportRow::kSevereErrorThreshold, nullptr, Published::kSevereErrorPercent},
    {ReportRow::kSnrBaseline, nullptr, Published::kSnrBaseline},
};
// clang-format on

const CriterionDef* OptionalCriterion(std::string_view name) {
    name = CurrentSpelling(name, kInCriteriaFile);
    for (const CriterionDef& d : kCriteria) {
        if (d.optional && name == d.name)
            return &d;
    }
    return nullptr;
}

const CriterionDef* CriterionOfLimitKey(std::string_view key) {
    key = CurrentSpelling(key, kInCriteriaFile);
    for (const CriterionDef& d : kCriteria) {
        if (d.limitKey && key == d.limitKey)
            return &d;
    }
    return nullptr;
}

const CriterionDef& Describe(CriterionId id) {
    return kCriteria[static_cast<std::size_t>(id)];
}

const ReportRowDef& Describe(ReportRow row) {
    return kReportRows[static_cast<std::size_t>(row)];
}

} // namespace tessor
