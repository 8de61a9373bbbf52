#include "cli/LineTestOptions.h"

#include "cli/CliValidators.h"
#include "files/PlainFile.h"
#include "model/LineTestNames.h"

namespace tessor::cli {

namespace {

// The criteria --skip may leave out, by their names and then their former names.
std::vector<std::string> OptionalCriteria() {
    std::vector<std::string> names;
    for (const CriterionDef& d : kCriteria) {
        if (d.optional)
            names.push_back(d.name);
    }
    for (const Rename& r : kRenames) {
        if (r.output == kInCriteriaFile && OptionalCriterion(r.former))
            names.push_back(r.former);
    }
    return names;
}

} // namespace

void AddLineTestOptions(CLI::App* test, LineTestCommandLine& line, bool ownReport) {
    LineTestArgs& a = line.args;
    test->add_option_function<long long>(
            "--duration", [&a](long long ms) { a.duration = std::chrono::milliseconds(ms); },
            "how long the test runs, such as 15m (default 15m)")
        ->transform(DurationValidator(1000));
    test->add_option_function<long long>(
            "--interval", [&a](long long ms) { a.interval = std::chrono::milliseconds(ms); },
            "time from one pass to the next (default 5s)")
        ->transform(DurationValidator(100));
    if (ownReport)
        test->add_option("--site", a.site, "where the line is, for the report");
    test->add_option("--operator", a.operatorName, "who runs the test, for the report");
    test->add_option("--note", a.note, "a note for the report");
    if (ownReport)
        test->add_option("--report", a.report, "write the HTML report to FILE");
    test->add_option(
        "--criteria", line.criteriaFile,
        "criteria file: name = value lines (min_snr, max_rs_corrected_per_second, max_esr_percent, "
        "max_sesr_percent, severe_error_percent, check_<criterion> = yes|no)");
    line.minSnr = test->add_option("--min-snr", line.minSnrDb, "minimum SNR in dB, 0 to 100 (default 30)")
                      ->check(LimitValidator(linetest::MinSnrDbAccepted, "0 to 100"));
    line.maxRs = test->add_option("--max-rs-per-second", line.maxRsValue,
                                  "highest mean of corrected RS errors per second, 0 to 1000000 (default 10)")
                     ->check(LimitValidator(linetest::MaxRsPerSecondAccepted, "0 to 1000000"));
    line.maxEsr = test->add_option("--max-esr-percent", line.maxEsrValue,
                                   "highest share of errored intervals in the available time, percent "
                                   "0 to 100 (default 1)")
                      ->check(LimitValidator(linetest::RatioPercentAccepted, "0 to 100"));
    line.maxSesr = test->add_option("--max-sesr-percent", line.maxSesrValue,
                                    "highest share of severely errored intervals in the available time, "
                                    "percent 0 to 100 (default 0.2)")
                       ->check(LimitValidator(linetest::RatioPercentAccepted, "0 to 100"));
    line.severeError =
        test->add_option("--severe-error-percent", line.severeErrorValue,
                         "errors of at least this share of the frames received make an interval severely "
                         "errored, percent 0.0001 to 100 (default 1)")
            ->check(LimitValidator(linetest::SevereErrorPercentAccepted, "0.0001 to 100"));
    test->add_option("--skip", line.skip, "criterion not to check (repeatable)")
        ->check(CLI::IsMember(OptionalCriteria()));
}

int ApplyLineTestCriteria(const Context& ctx, const LineTestCommandLine& line,
                          const std::string& criteriaFile, linetest::Criteria* criteria) {
    linetest::Criteria& c = *criteria;
    if (!criteriaFile.empty()) {
        std::string bytes, error;
        int cause = 0;
        if (!ReadSmallPlainFile(criteriaFile, &bytes, &cause))
            return ctx.Fail(kExitFile, criteriaFile + ": cannot be read: " + PlainFileErrorText(cause) +
                                           ".\nCheck the name and that you may read it.");
        if (!ReadCriteriaFile(bytes, &c, &error))
            return ctx.Fail(kExitUsage, criteriaFile + ": " + error + ".\nSee tessor-cli(1), linetest.");
    }
    if (line.minSnr->count() > 0)
        c.minSnrCenti = static_cast<std::int32_t>(line.minSnrDb * 100 + 0.5);
    if (line.maxRs->count() > 0)
        c.maxRsPerSecond = line.maxRsValue;
    if (line.maxEsr->count() > 0)
        c.maxEsrPercent = line.maxEsrValue;
    if (line.maxSesr->count() > 0)
        c.maxSesrPercent = line.maxSesrValue;
    if (line.severeError->count() > 0)
        c.intervalRules.severeErrorPpm = *SevereErrorPpmOfPercent(line.severeErrorValue);
    for (const std::string& name : line.skip) {
        if (const CriterionDef* d = OptionalCriterion(name))
            *linetest::CheckOf(&c, d->id) = false;
    }
    return kExitOk;
}

} // namespace tessor::cli
