// linetest (the line acceptance test with its report) and verify (a board against a saved configuration).
#include "cli/CliCommands.h"

#include "files/PlainFile.h"
#include "linetest/ConfigCompare.h"
#include "linetest/Figures.h"
#include "linetest/LineTest.h"
#include "linetest/LineTestReport.h"
#include "model/LineTestNames.h"
#include "model/NumberText.h"
#include "model/PublishedNames.h"
#include "monitor/JsonText.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#ifndef TESSOR_VERSION
#define TESSOR_VERSION "0"
#endif

namespace tessor::cli {

namespace {

nlohmann::json StatJson(const linetest::Statistic& s, double scale) {
    if (s.count == 0)
        return nullptr;
    return {{NameOf(Published::kMin), s.min / scale},
            {NameOf(Published::kMean), s.mean / scale},
            {NameOf(Published::kMax), s.max / scale},
            {NameOf(Published::kSampleCount), s.count}};
}

template <typename T> nlohmann::json Optional(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json Seconds(const linetest::LineTestResult& r, const std::optional<rec::SampleTime>& t) {
    return t ? nlohmann::json(static_cast<double>(t->monoMs - r.start.monoMs) / 1000.0)
             : nlohmann::json(nullptr);
}

nlohmann::json IdJson(const linetest::IdentificationRead& read) {
    nlohmann::json doc{{NameOf(Published::kOutcome), linetest::OutcomeText(read.outcome)}};
    if (read.outcome == Outcome::Answered)
        doc.update({{"8C72", ops::IdentificationText(read.id.id72)},
                    {"8C73", ops::IdentificationText(read.id.id73)},
                    {"8C6F", ops::IdentificationText(read.id.id6F)}});
    return doc;
}

nlohmann::json StateJson(const linetest::BoardState& s) {
    if (!s.made)
        return nullptr;
    nlohmann::json doc{{NameOf(Published::kLineUp), Optional(s.lineUp)},
                       {NameOf(Published::kLocal), IdJson(s.local)},
                       {NameOf(Published::kRemote), IdJson(s.remote)},
                       {NameOf(Published::kSettingsOutcome), linetest::OutcomeText(s.settings.outcome)}};
    if (s.settings.outcome == Outcome::Answered) {
        const ops::LinkSettings& l = s.settings.settings;
        doc[NameOf(Published::kDownstream)] = DirectionJson(l.downstream);
        doc[NameOf(Published::kUpstream)] = DirectionJson(l.upstream);
        doc[NameOf(Published::kEthernetSpeed)] = {
            {NameOf(Published::kLocal),
             l.localSpeed.position ? nlohmann::json(*l.localSpeed.position + 1) : nlohmann::json(nullptr)},
            {NameOf(Published::kRemote), l.remoteSpeedRead && l.remoteSpeed.position
                                             ? nlohmann::json(*l.remoteSpeed.position + 1)
                                             : nlohmann::json(nullptr)}};
    }
    return doc;
}

// The interval figures: counts and the time they cover, as the monitor names them.
nlohmann::json IntervalsJson(const IntervalFigures& f) {
    nlohmann::json doc{{NameOf(Published::kAvailableIntervals), f.available.intervals},
                       {NameOf(Published::kAvailableSeconds), f.available.Seconds()}};
    for (const IntervalFigureDef& d : kIntervalFigures) {
        const IntervalTally& tally = f.*d.tally;
        doc[std::string(d.name) + "_intervals"] = tally.intervals;
        doc[std::string(d.name) + "_seconds"] = tally.Seconds();
    }
    return doc;
}

// The SNR a monitor takes as the line's baseline: the mean of the test, to a hundredth of a dB.
nlohmann::json BaselineJson(const linetest::Statistic& snrCenti) {
    return snrCenti.count ? nlohmann::json(std::llround(snrCenti.mean) / 100.0) : nlohmann::json(nullptr);
}

} // namespace

nlohmann::json LineTestJson(const linetest::LineTestResult& r, const std::string& report) {
    nlohmann::json criteria = nlohmann::json::array();
    for (const linetest::CriterionResult& c : r.criteria)
        criteria.push_back({{NameOf(Published::kCriterionName), linetest::CriterionName(c.id)},
                            {NameOf(Published::kCaption), linetest::CriterionCaption(c.id)},
                            {NameOf(Published::kChecked), c.checked},
                            {NameOf(Published::kPassed), c.passed},
                            {NameOf(Published::kLimit), c.limit},
                            {NameOf(Published::kMeasured), c.measured},
                            {NameOf(Published::kFirstBreachS), Seconds(r, c.firstBreach)}});
    nlohmann::json ethernet = nlohmann::json::object();
    for (int i = 0; i < kCounterDefCount; ++i)
        ethernet[kCounterDefs[static_cast<std::size_t>(i)].name] =
            r.ethernet.totals[static_cast<std::size_t>(i)];
    nlohmann::json drops = nlohmann::json::array();
    for (const rec::SampleTime& d : r.drops)
        drops.push_back(Seconds(r, d));
    return {{NameOf(Published::kVerdict), linetest::VerdictName(r.verdict)},
            {NameOf(Published::kNotRunReason),
             r.notRunReason.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.notRunReason)},
            {NameOf(Published::kStopped), r.stopped},
            {NameOf(Published::kBoardLost), r.boardLost},
            {NameOf(Published::kSite), r.options.site},
            {NameOf(Published::kOperator), r.options.operatorName},
            {NameOf(Published::kNote), r.options.note},
            {NameOf(Published::kStart), linetest::TimeText(r.start)},
            {NameOf(Published::kEnd), linetest::TimeText(r.end)},
            {NameOf(Published::kDurationS), static_cast<double>(r.end.monoMs - r.start.monoMs) / 1000.0},
            {NameOf(Published::kPlannedS), static_cast<double>(r.options.duration.count()) / 1000.0},
            {NameOf(Published::kIntervalS), static_cast<double>(r.options.interval.count()) / 1000.0},
            {NameOf(Published::kPasses), r.passes},
            {NameOf(Published::kUnansweredPasses), r.unansweredPasses},
            {NameOf(Published::kGarbledPasses), r.garbledPasses},
            {NameOf(Published::kSnr), StatJson(r.snrCenti, 100.0)},
            {NameOf(Published::kMse), StatJson(r.mseCenti, 100.0)},
            {NameOf(Published::kTxPower), StatJson(r.txPowerDb, 1.0)},
            {NameOf(Published::kRsCorrectedTotal), r.rsTotal},
            {NameOf(Published::kRsCorrectedPerSecond), Optional(r.rsPerSecond)},
            {NameOf(Published::kLinkFailCount),
             {{NameOf(Published::kFirst), Optional(r.linkFailFirst)},
              {NameOf(Published::kLast), Optional(r.linkFailLast)},
              {NameOf(Published::kChange), Optional(r.linkFailChange)},
              {NameOf(Published::kMicroInterruptions), r.microInterruptions},
              {NameOf(Published::kDownPasses), r.downPasses}}},
            {NameOf(Published::kDropsS), drops},
            {NameOf(Published::kEthernetTotals), ethernet},
            {NameOf(Published::kEthernetSeconds), r.ethernetSeconds},
            {NameOf(Published::kIntervals), IntervalsJson(r.intervals)},
            {NameOf(Published::kEsr), Optional(r.ratios.errored)},
            {NameOf(Published::kSesr), Optional(r.ratios.severelyErrored)},
            {NameOf(Published::kAvailability),
             r.ratios.unavailable ? nlohmann::json(1.0 - *r.ratios.unavailable) : nlohmann::json(nullptr)},
            {NameOf(Published::kSevereErrorPercent), linetest::SevereErrorPercent(r.options.criteria)},
            {NameOf(Published::kSnrBaseline), BaselineJson(r.snrCenti)},
            {NameOf(Published::kBefore), StateJson(r.before)},
            {NameOf(Published::kAfter), StateJson(r.after)},
            {NameOf(Published::kCriteria), criteria},
            {NameOf(Published::kReport), report.empty() ? nlohmann::json(nullptr) : nlohmann::json(report)}};
}

namespace {

std::string ResultText(const linetest::LineTestResult& r) {
    std::ostringstream text;
    text << "Line test " << linetest::VerdictText(r.verdict);
    if (!r.notRunReason.empty())
        text << ": " << r.notRunReason;
    text << "\n";
    for (const linetest::CriterionResult& c : r.criteria) {
        text << "  "
             << (!c.checked ? "not checked"
                 : c.passed ? "passed"
                            : "FAILED")
             << "  " << linetest::CriterionCaption(c.id) << ": " << c.measured << " (" << c.limit << ")";
        if (c.firstBreach)
            text << ", first at " << linetest::TimeText(*c.firstBreach) << " ("
                 << linetest::OffsetText(r.start, *c.firstBreach) << ")";
        text << "\n";
    }
    if (r.snrCenti.count)
        text << "SNR baseline for a monitor: " << linetest::Centi(r.snrCenti.mean)
             << " dB (the mean; minimum " << linetest::Centi(r.snrCenti.min) << " dB)\n";
    return text.str();
}

std::string ProgressText(const linetest::LineTestProgress& p) {
    std::ostringstream text;
    const long long left = std::max<long long>(0, (p.duration - p.elapsed).count() / 1000);
    text << "linetest: " << p.elapsed.count() / 1000 << " s of " << p.duration.count() / 1000 << " s, "
         << left << " s left, pass " << p.passes << ", line "
         << (p.lineUp ? (*p.lineUp ? "up" : "down") : std::string("unknown")) << ", SNR "
         << (p.snrCenti ? FormatHundredths(*p.snrCenti, DecimalMark::Point) + " dB" : std::string("-"))
         << ", RS/s ";
    if (p.rsPerSecond) {
        char rs[32];
        std::snprintf(rs, sizeof rs, "%.2f", *p.rsPerSecond);
        text << rs;
    } else {
        text << "-";
    }
    if (p.unansweredPasses > 0)
        text << ", " << p.unansweredPasses << " unanswered";
    return text.str();
}

std::string ReportFileProblem(const std::string& path, const char* what, int error) {
    return path + ": " + what + ": " + PlainFileErrorText(error) +
           ".\nCheck that its folder exists, the free space and that you may write there.";
}

int ReportFileFail(const Context& ctx, const std::string& path, const char* what, int error) {
    return ctx.Fail(kExitFile, ReportFileProblem(path, what, error));
}

// Writes the report; the problem when it could not be written, else nothing.
std::string WriteReport(const std::string& path, const linetest::LineTestResult& result) {
    const std::string html = linetest::ReportHtml(result);
    int error = 0;
    if (!ReplacePlainFileContents(path, html.data(), html.size(), &error))
        return ReportFileProblem(path, "could not be written", error);
    return {};
}

// The verdict first, whatever became of the report: with --json the whole document, the report's
// problem in it.
void PrintResult(const Context& ctx, const linetest::LineTestResult& result, const std::string& report,
                 const std::string& reportProblem) {
    const std::string written = reportProblem.empty() ? report : std::string();
    if (ctx.options.json) {
        nlohmann::json doc = LineTestJson(result, written);
        if (!reportProblem.empty())
            doc[NameOf(Published::kReportError)] = reportProblem;
        ctx.streams.out << JsonText(doc, 2) << "\n";
    } else {
        ctx.streams.out << ResultText(result) << (written.empty() ? "" : "Report: " + written + "\n");
    }
    ctx.streams.out.flush();
}

// A number in a criteria file: finite and accepted by its criterion.
bool ReadLimit(const std::string& value, bool (*accepted)(double), double* limit) {
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !accepted(v))
        return false;
    *limit = v;
    return true;
}

// Sets the limit of a criterion from a criteria file's value, or says what it needs.
bool SetLimit(CriterionId id, const std::string& value, linetest::Criteria* criteria, std::string* why) {
    double v = 0;
    switch (id) {
    case CriterionId::MinSnr:
        if (!ReadLimit(value, linetest::MinSnrDbAccepted, &v)) {
            *why = "needs a number from 0 to 100 (dB)";
            return false;
        }
        criteria->minSnrCenti = static_cast<std::int32_t>(std::lround(v * 100));
        return true;
    case CriterionId::ErroredRatio:
    case CriterionId::SeverelyErroredRatio:
        if (!ReadLimit(value, linetest::RatioPercentAccepted, &v)) {
            *why = "needs a number from 0 to 100 (percent)";
            return false;
        }
        (id == CriterionId::ErroredRatio ? criteria->maxEsrPercent : criteria->maxSesrPercent) = v;
        return true;
    default:
        break;
    }
    if (!ReadLimit(value, linetest::MaxRsPerSecondAccepted, &v)) {
        *why = "needs a number from 0 to 1000000";
        return false;
    }
    criteria->maxRsPerSecond = v;
    return true;
}

// The criterion whose yes/no check a criteria file's name ("check_" and its name) sets, or none.
const CriterionDef* CriterionOfCheckKey(const std::string& key) {
    const std::string_view prefix = kCriterionCheckPrefix;
    return key.compare(0, prefix.size(), prefix) == 0
               ? OptionalCriterion(std::string_view(key).substr(prefix.size()))
               : nullptr;
}

} // namespace

// A criteria file: "name = value" lines, "#" comments. Names: the limits (min_snr in dB,
// max_rs_corrected_per_second, max_esr_percent, max_sesr_percent), the severe error threshold
// (severe_error_percent), and check_<criterion> = yes|no for each
// criterion that may be left out. A name it does not carry keeps its default, so files older than a
// criterion still load; the former spellings of these names are read too.
bool ReadCriteriaFile(const std::string& bytes, linetest::Criteria* criteria, std::string* error) {
    std::istringstream in(bytes);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        const auto eq = line.find('=');
        const auto trim = [](std::string s) {
            const auto a = s.find_first_not_of(" \t\r");
            const auto b = s.find_last_not_of(" \t\r");
            return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
        };
        const std::string key = trim(line.substr(0, eq));
        if (key.empty() && eq == std::string::npos)
            continue;
        const std::string value = eq == std::string::npos ? std::string() : trim(line.substr(eq + 1));
        const auto bad = [&](const std::string& why) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (key == NameOf(Published::kSevereErrorPercent)) {
            double percent = 0;
            if (!ReadLimit(value, linetest::SevereErrorPercentAccepted, &percent))
                return bad(key + " needs a number from 0.0001 to 100 (percent)");
            criteria->intervalRules.severeErrorPpm = *SevereErrorPpmOfPercent(percent);
            continue;
        }
        if (const CriterionDef* limit = CriterionOfLimitKey(key)) {
            std::string why;
            if (!SetLimit(limit->id, value, criteria, &why))
                return bad(key + " " + why);
            continue;
        }
        const CriterionDef* check = CriterionOfCheckKey(key);
        if (check == nullptr)
            return bad("unknown name \"" + key + "\"");
        if (value != "yes" && value != "no")
            return bad(key + " is yes or no");
        *linetest::CheckOf(criteria, check->id) = value == "yes";
    }
    return true;
}

int RunLineTest(const Context& ctx, const LineTestArgs& args, const std::atomic<bool>& interrupted) {
    if (!args.report.empty()) {
        // Fail before the test, not after a quarter of an hour: the report's place must take a file.
        int error = 0;
        if (!CanReplacePlainFile(args.report, &error))
            return ReportFileFail(ctx, args.report, "cannot be created", error);
    }
    linetest::LineTestOptions options;
    options.duration = args.duration;
    options.interval = args.interval;
    options.site = args.site;
    options.operatorName = args.operatorName;
    options.note = args.note;
    options.criteria = args.criteria;
    options.refuseSide = args.refuseSide;
    options.toolVersion = std::string("tessor-cli ") + TESSOR_VERSION;

    linetest::COpsLineTestBoard board(ctx.Bus());
    linetest::CLineTest test(board, options);
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        while (!finished.load()) {
            if (interrupted.load()) {
                test.Stop();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const bool inPlace = StandardErrorIsTerminal();
    const linetest::LineTestResult result = test.Run([&](const linetest::LineTestProgress& p) {
        if (inPlace)
            ctx.streams.err << "\r\x1b[K" << ProgressText(p) << std::flush;
        else
            ctx.streams.err << ProgressText(p) << std::endl;
    });
    finished.store(true);
    watcher.join();
    if (inPlace)
        ctx.streams.err << "\n";

    const std::string reportProblem = args.report.empty() ? std::string() : WriteReport(args.report, result);
    PrintResult(ctx, result, args.report, reportProblem);
    if (!reportProblem.empty())
        ctx.streams.err << "tessor-cli: " << reportProblem << std::endl;
    else if (result.verdict == linetest::Verdict::NotRun)
        // The result above already says why (with --json in its document): only the hint follows.
        ctx.streams.err
            << "tessor-cli: the line test could not run: " << result.notRunReason << " on "
            << ctx.session.Port().device
            << ".\nCheck the cable to the board, that the port is the right one, and reset the board; "
               "then try again."
            << std::endl;
    return LineTestExitCode(result.verdict, !reportProblem.empty());
}

int LineTestExitCode(linetest::Verdict verdict, bool reportProblem) {
    if (reportProblem)
        return kExitFile;
    switch (verdict) {
    case linetest::Verdict::Passed:
        return kExitOk;
    case linetest::Verdict::NotRun:
        return kExitNoAnswer;
    case linetest::Verdict::Failed:
    case linetest::Verdict::Stopped:
        break;
    }
    return kExitDiffer;
}

int VerifyExitCode(const linetest::ConfigComparison& comparison) {
    return comparison.Equal() ? kExitOk : kExitDiffer;
}

int RunVerify(const Context& ctx, const std::string& file) {
    std::string bytes;
    int error = 0;
    if (!ReadSmallPlainFile(file, &bytes, &error))
        return ctx.Fail(kExitFile,
                        file + ": cannot be read: " + PlainFileErrorText(error) +
                            ".\nCheck the name and that you may read it. Nothing was read from the board.");
    const linetest::ParsedConfiguration parsed = linetest::ParseConfiguration(bytes);
    if (!parsed.ok)
        return ctx.Fail(
            kExitFile,
            file + ": not a configuration file (" + parsed.message +
                ").\nGive a file saved by the tool (*.LT or *.NT). Nothing was read from the board.");
    const ops::ModemSideRead side = ops::DetectModemSide(ctx.Bus());
    if (!side.read.ok())
        return ctx.BoardFailure(side.read);
    const ops::SaveRead read = ops::ReadConfiguration(ctx.Bus(), side.side, ctx.options.blockReads);
    if (!read.ok)
        return ctx.BoardFailure(read.failure);
    const linetest::ConfigComparison c = linetest::CompareConfiguration(parsed, read, side.side);
    const ConfigDiff diff = DiffConfigurations(linetest::RegisterSet(parsed),
                                               linetest::RegisterSet(read, side.side), kConfigCrystalIndex);

    std::ostringstream text;
    if (!c.sideMatches)
        text << "Modem side: file " << SideName(c.fileSide) << ", board " << SideName(c.boardSide) << "\n"
             << diff.SideNote() << "\n";
    for (const linetest::RegisterDifference& d : c.differences) {
        text << d.address << "  file " << (d.file ? Hex2(*d.file) : std::string("--")) << "  board "
             << (d.board ? Hex2(*d.board) : std::string("--")) << "\n";
        for (const std::string& words : diff.WordsUnder(d.address))
            text << "    " << words << "\n";
    }
    text << (c.Equal() ? "The board carries the configuration of " + file + " (" +
                             std::to_string(c.compared) + " registers compared).\n"
                       : std::to_string(c.differences.size()) + " of " + std::to_string(c.compared) +
                             " registers differ from " + file + ".\n");
    ctx.Done(VerifyJson(file, c, diff), text.str());
    return VerifyExitCode(c);
}

nlohmann::json VerifyJson(const std::string& file, const linetest::ConfigComparison& c,
                          const ConfigDiff& diff) {
    const auto hex = [](const std::optional<std::uint8_t>& v) {
        return v ? nlohmann::json(Hex2(*v)) : nlohmann::json(nullptr);
    };
    const char* fileKey = NameOf(Published::kFile);
    const char* boardKey = NameOf(Published::kBoard);
    nlohmann::json list = nlohmann::json::array();
    for (const linetest::RegisterDifference& d : c.differences)
        list.push_back(
            {{NameOf(Published::kRegister), d.address}, {fileKey, hex(d.file)}, {boardKey, hex(d.board)}});
    const char* changes = NameOf(Published::kChanges);
    return {{fileKey, file},
            {NameOf(Published::kEqual), c.Equal()},
            {NameOf(Published::kSide), {{fileKey, SideName(c.fileSide)}, {boardKey, SideName(c.boardSide)}}},
            {NameOf(Published::kCompared), c.compared},
            {NameOf(Published::kDifferences), list},
            {changes, ConfigDiffJson(diff)[changes]},
            {NameOf(Published::kNotCompared), diff.notCompared}};
}

} // namespace tessor::cli
