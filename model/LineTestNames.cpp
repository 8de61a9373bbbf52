#include "model/LineTestNames.h"

namespace tessor {

namespace {

constexpr Published kNoValue = Published::kCount;

} // namespace

// clang-format off
const CriterionDef kCriteria[kCriterionCount] = {
    {CriterionId::MinSnr, "min_snr", "Minimum SNR", true, "min_snr"},
    {CriterionId::NoLineDrop, "no_line_drop", "No line drop", true, nullptr},
    {CriterionId::LinkFailUnchanged, "link_fail_unchanged", "Link fail counter unchanged", true, nullptr},
    {CriterionId::RsPerSecond, "rs_per_second", "Mean corrected RS errors per second", true, "max_rs_per_second"},
    {CriterionId::NoEthernetErrors, "no_ethernet_errors", "No Ethernet FCS or receive errors", true, nullptr},
    {CriterionId::Answered, "answered_every_pass", "The board answered every pass", false, nullptr},
};

const ReportRowDef kReportRows[static_cast<std::size_t>(ReportRow::kCount)] = {
    {ReportRow::kSite, "site", kNoValue},
    {ReportRow::kOperator, "operator", kNoValue},
    {ReportRow::kNote, "note", kNoValue},
    {ReportRow::kStart, "start", kNoValue},
    {ReportRow::kEnd, "end", kNoValue},
    {ReportRow::kDuration, "duration", kNoValue},
    {ReportRow::kInterval, "interval", kNoValue},
    {ReportRow::kTool, "tool", kNoValue},
    {ReportRow::kBoardBefore, "board_before", Published::kLineUp},
    {ReportRow::kBoardAfter, "board_after", Published::kLineUp},
    {ReportRow::kSnr, "snr", Published::kSnr},
    {ReportRow::kMse, "mse", Published::kMse},
    {ReportRow::kPower, "power", Published::kTxPower},
    {ReportRow::kRsTotal, "rs_total", Published::kRsCorrectedTotal},
    {ReportRow::kRsPerSecond, "rs_per_second", Published::kRsCorrectedPerSecond},
    {ReportRow::kLinkFail, "link_fail", Published::kLinkFailCount},
    {ReportRow::kLinkFailChange, "link_fail_change", kNoValue},
    {ReportRow::kDrops, "drops", kNoValue},
    {ReportRow::kMicroInterruptions, "micro_interruptions", kNoValue},
    {ReportRow::kPasses, "passes", kNoValue},
    {ReportRow::kUnansweredPasses, "unanswered_passes", kNoValue},
    {ReportRow::kGarbledPasses, "garbled_passes", kNoValue},
};
// clang-format on

const CriterionDef& Describe(CriterionId id) {
    return kCriteria[static_cast<std::size_t>(id)];
}

const ReportRowDef& Describe(ReportRow row) {
    return kReportRows[static_cast<std::size_t>(row)];
}

} // namespace tessor
