#include "linetest/LineTestReport.h"

#include "linetest/Figures.h"

#include "linetest/ConfigCompare.h"

#include "model/LineModel.h"
#include "model/LineTestNames.h"
#include "model/RawCounts.h"
#include "recorder/Decimate.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace tessor::linetest {

namespace {

const char* const kCss = R"(
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 10pt; color: #111; margin: 1.5em; }
h1 { font-size: 16pt; margin: 0 0 .3em 0; }
h2 { font-size: 12pt; margin: 1.2em 0 .4em 0; border-bottom: 1px solid #999; }
table { border-collapse: collapse; margin: .3em 0; }
th, td { border: 1px solid #bbb; text-align: left; vertical-align: top; }
th, td { word-break: normal; overflow-wrap: normal; hyphens: none; } /* wrap between words only */
th { background: #eee; }
td.num { text-align: right; }
.verdict { font-size: 18pt; font-weight: bold; padding: 6px 12px; display: inline-block; border: 2px solid; }
.passed { color: #0a6b0a; border-color: #0a6b0a; }
.failed, .not_run { color: #b00000; border-color: #b00000; }
.stopped { color: #8a5a00; border-color: #8a5a00; }
td.ok { color: #0a6b0a; font-weight: bold; }
td.bad { color: #b00000; font-weight: bold; }
td.off { color: #666; }
svg { display: block; margin: .3em 0 1em 0; }
.note { white-space: pre-wrap; }
@media print { body { margin: 0; font-size: 9pt; } h2 { page-break-after: avoid; } table, svg { page-break-inside: avoid; } }
)";

// The cells' padding, for a browser. The window's PDF renderer leaves CSS padding out when it works out how
// narrow a column may be, and then breaks the words in it ("Constellatio n"): there the tables'
// cellpadding attribute pads the cells.
const char* const kCellPadding = "th, td { padding: 2px 6px; }\n";

const char* const kColors[] = {"#1f5fa8", "#c0392b", "#2e8b57"};

// Decodes one UTF-8 sequence at text[i]; its length, or 0 when it is not valid.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > text.size() || (n == 2 && c < 0xC2))
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 0;
    }
    return n;
}

// A table row of a heading and values.
class Table {
public:
    explicit Table(std::ostringstream& out, const std::string& cls = "") : m_out(out) {
        m_out << "<table" << (cls.empty() ? "" : " class=\"" + cls + "\"") << ">\n";
    }
    ~Table() { m_out << "</table>\n"; }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    void Head(const std::vector<std::string>& cells) {
        m_out << "<tr>";
        for (const std::string& c : cells)
            m_out << "<th>" << EscapeHtml(c) << "</th>";
        m_out << "</tr>\n";
    }
    // A row headed by label; figure, when given, names the values for programs that read the report.
    void Row(const std::string& label, const std::vector<std::string>& cells,
             const std::string& figure = "") {
        m_out << "<tr" << (figure.empty() ? "" : " data-figure=\"" + figure + "\"") << "><th>"
              << EscapeHtml(label) << "</th>";
        for (const std::string& c : cells)
            m_out << "<td>" << EscapeHtml(c) << "</td>";
        m_out << "</tr>\n";
    }

private:
    std::ostringstream& m_out;
};

std::string Opt(const std::optional<int>& v) {
    return v ? std::to_string(*v) : "unknown";
}

std::string IdValue(const IdentificationRead& read, const std::optional<std::uint16_t>& value) {
    return read.outcome == Outcome::Answered ? ops::IdentificationText(value) : OutcomeText(read.outcome);
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string SpeedText(const ops::SpeedRead& speed, bool read) {
    if (!read)
        return "not read (line down)";
    return speed.position
               ? "setup " + Trim(std::string(kEthernetSpeedTexts[static_cast<std::size_t>(*speed.position)]))
               : std::string("unknown");
}

void DirectionCells(const ops::DirectionSettings& d, std::vector<std::string>* cells) {
    cells->push_back(d.constellation ? Trim(d.constellationText) : "unknown");
    cells->push_back(d.interpolation ? std::to_string(d.interpolation->factor) : "unknown");
    // The report writes a point: the rate as the Link page shows it has a comma.
    const std::string rate = FormatLineRate(d.rate, DecimalMark::Point);
    cells->push_back(rate.empty() ? "unknown" : rate + " Mbit/s");
    cells->push_back(d.carrierText + " MHz");
}

void WriteBoardStates(std::ostringstream& out, const LineTestResult& r) {
    out << "<h2>Modems</h2>\n";
    const BoardState* states[] = {&r.before, &r.after};
    const char* names[] = {"Before", "After"};
    {
        Table t(out);
        t.Head({"", "At", "Line", "Local 8C72", "Local 8C73", "Local 8C6F", "Remote 8C72", "Remote 8C73",
                "Remote 8C6F"});
        for (int i = 0; i < 2; ++i) {
            const BoardState& s = *states[i];
            if (!s.made) {
                t.Row(names[i], {"not read"});
                continue;
            }
            t.Row(names[i],
                  {TimeText(s.time).substr(11), s.lineUp ? (*s.lineUp ? "up" : "down") : "unknown",
                   IdValue(s.local, s.local.id.id72), IdValue(s.local, s.local.id.id73),
                   IdValue(s.local, s.local.id.id6F), IdValue(s.remote, s.remote.id.id72),
                   IdValue(s.remote, s.remote.id.id73), IdValue(s.remote, s.remote.id.id6F)},
                  ReportRowId(i == 0 ? ReportRow::kBoardBefore : ReportRow::kBoardAfter));
        }
    }
    out << "<p>Line settings as the local modem (" << SideName(r.side)
        << ") runs them; the remote modem runs the same settings while the line is up.</p>\n";
    Table t(out);
    t.Head({"", "Direction", "Constellation", "Interpolation", "Rate", "Carrier"});
    for (int i = 0; i < 2; ++i) {
        const BoardState& s = *states[i];
        if (!s.made || s.settings.outcome != Outcome::Answered) {
            t.Row(names[i], {s.made ? OutcomeText(s.settings.outcome) : "not read"});
            continue;
        }
        std::vector<std::string> down{"downstream"}, up{"upstream"};
        DirectionCells(s.settings.settings.downstream, &down);
        DirectionCells(s.settings.settings.upstream, &up);
        t.Row(names[i], down);
        t.Row(names[i], up);
        t.Row(names[i],
              {"Ethernet speed", "local " + SpeedText(s.settings.settings.localSpeed, true),
               "remote " + SpeedText(s.settings.settings.remoteSpeed, s.settings.settings.remoteSpeedRead)});
    }
}

std::string StatCells(const Statistic& s, bool centi, std::vector<std::string>* cells) {
    if (s.count == 0) {
        cells->insert(cells->end(), {"unknown", "unknown", "unknown"});
        return {};
    }
    const auto f = [centi](double v) { return centi ? Centi(v) : Fixed(v, 1); };
    cells->insert(cells->end(), {f(s.min), f(s.mean), f(s.max)});
    return {};
}

void WriteLineFigures(std::ostringstream& out, const LineTestResult& r) {
    out << "<h2>Line</h2>\n";
    {
        Table t(out);
        t.Head({"", "Minimum", "Mean", "Maximum", "Unit"});
        std::vector<std::string> snr, mse, power;
        StatCells(r.snrCenti, true, &snr);
        StatCells(r.mseCenti, true, &mse);
        StatCells(r.txPowerDb, false, &power);
        snr.push_back("dB");
        mse.push_back("dB");
        power.push_back("dBm/Hz");
        t.Row("SNR", snr, ReportRowId(ReportRow::kSnr));
        t.Row("MSE", mse, ReportRowId(ReportRow::kMse));
        t.Row("Transmitted power", power, ReportRowId(ReportRow::kPower));
    }
    Table t(out);
    t.Row("Corrected RS errors in total", {std::to_string(r.rsTotal)}, ReportRowId(ReportRow::kRsTotal));
    t.Row("Corrected RS errors per second", {r.rsPerSecond ? Fixed(*r.rsPerSecond, 2) : "unknown"},
          ReportRowId(ReportRow::kRsPerSecond));
    t.Row("Link fail counter", {Opt(r.linkFailFirst) + " -> " + Opt(r.linkFailLast)},
          ReportRowId(ReportRow::kLinkFail));
    t.Row("Link fail change", {r.linkFailChange ? "+" + std::to_string(*r.linkFailChange) : "unknown"},
          ReportRowId(ReportRow::kLinkFailChange));
    std::string drops = r.drops.empty() ? "none" : "";
    for (const rec::SampleTime& d : r.drops)
        drops += (drops.empty() ? "" : ", ") + TimeText(d) + " (" + OffsetText(r.start, d) + ")";
    t.Row("Line drops", {std::to_string(r.drops.size()), drops}, ReportRowId(ReportRow::kDrops));
    t.Row("Micro interruptions", {std::to_string(r.microInterruptions)},
          ReportRowId(ReportRow::kMicroInterruptions));
    t.Row("Passes (the reads before and after included)", {std::to_string(r.passes)},
          ReportRowId(ReportRow::kPasses));
    t.Row("Passes without an answer", {std::to_string(r.unansweredPasses)},
          ReportRowId(ReportRow::kUnansweredPasses));
    t.Row("Passes with a garbled reply", {std::to_string(r.garbledPasses)},
          ReportRowId(ReportRow::kGarbledPasses));
}

std::string PercentText(const std::optional<double>& ratio) {
    return ratio ? Fixed(*ratio * 100.0, 2) + " %" : std::string("unknown");
}

std::string TallyText(const IntervalTally& tally) {
    return std::to_string(tally.intervals) + " (" + Fixed(tally.Seconds(), 1) + " s)";
}

// The severe error threshold as a percentage, with as many decimals as it has (its rule is in millionths).
std::string ThresholdText(const Criteria& criteria) {
    std::string text = Fixed(SevereErrorPercent(criteria), 4);
    text.erase(text.find_last_not_of('0') + 1);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text + " %";
}

void WriteIntervals(std::ostringstream& out, const LineTestResult& r) {
    const std::string threshold = ThresholdText(r.options.criteria);
    out << "<h2>Line performance by interval</h2>\n<p>The modems count no errored seconds: each interval is "
           "the time between two passes, judged as G.826 judges a second. Errored: an FCS or receive error; "
           "severely errored: a retrain, or errors of at least "
        << threshold
        << " of the frames received; unavailable: the line seen down, or within a run that starts with 10 "
           "severely errored intervals and ends before 10 that are not. Errored and severely errored "
           "intervals count while the line is available; the ratios are of the time the intervals "
           "cover.</p>\n";
    {
        const IntervalFigures& f = r.intervals;
        Table t(out);
        t.Row("Intervals measured", {std::to_string(f.available.intervals + f.unavailable.intervals)},
              ReportRowId(ReportRow::kIntervals));
        t.Row("Errored intervals", {TallyText(f.errored)}, ReportRowId(ReportRow::kErroredIntervals));
        t.Row("Severely errored intervals", {TallyText(f.severelyErrored)},
              ReportRowId(ReportRow::kSeverelyErroredIntervals));
        t.Row("Unavailable intervals", {TallyText(f.unavailable)},
              ReportRowId(ReportRow::kUnavailableIntervals));
        t.Row("Intervals not measured", {TallyText(f.unmeasured)},
              ReportRowId(ReportRow::kUnmeasuredIntervals));
        t.Row("FEC intervals (corrected RS errors)", {TallyText(f.fec)},
              ReportRowId(ReportRow::kFecIntervals));
        t.Row("Errored interval ratio (ESR)", {PercentText(r.ratios.errored)},
              ReportRowId(ReportRow::kErroredRatio));
        t.Row("Severely errored interval ratio (SESR)", {PercentText(r.ratios.severelyErrored)},
              ReportRowId(ReportRow::kSeverelyErroredRatio));
        t.Row("Availability",
              {r.ratios.unavailable ? PercentText(1.0 - *r.ratios.unavailable) : std::string("unknown")},
              ReportRowId(ReportRow::kAvailability));
        t.Row("Severely errored from errors of", {threshold + " of the frames received"},
              ReportRowId(ReportRow::kSevereErrorThreshold));
    }
    out << "<p>The SNR baseline a monitor can take from this test (its <code>--snr-baseline</code>, the "
           "inventory's <code>tessor_snr_baseline_db</code>): the mean SNR of the test, with its minimum "
           "beside it.</p>\n";
    Table t(out);
    t.Row("SNR baseline",
          r.snrCenti.count ? std::vector<std::string>{"mean " + Centi(r.snrCenti.mean) + " dB",
                                                      "minimum " + Centi(r.snrCenti.min) + " dB"}
                           : std::vector<std::string>{"unknown"},
          ReportRowId(ReportRow::kSnrBaseline));
}

void WriteEthernet(std::ostringstream& out, const LineTestResult& r) {
    out << "<h2>Ethernet</h2>\n<p>Counted over " << Fixed(r.ethernetSeconds, 1)
        << " s, from the second pass on (the counters clear when read): the raw register counts, "
           "per second of real time.</p>\n";
    Table t(out);
    t.Head({"Counter", "Total", "Per second"});
    for (int i = 0; i < kCounterDefCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const std::uint64_t total = r.ethernet.totals[index];
        const std::optional<double> rate = PerSecond(total, r.ethernetSeconds);
        t.Row(kCounterDefs[index].label, {std::to_string(total), rate ? Fixed(*rate, 1) : "unknown"},
              kReportEthernetRowPrefix + std::string(kCounterDefs[index].name));
    }
}

void WriteCriteria(std::ostringstream& out, const LineTestResult& r) {
    out << "<h2>Criteria</h2>\n<table "
           "class=\"criteria\">\n<tr><th>Criterion</th><th>Limit</th><th>Measured</th>"
           "<th>Result</th><th>First breach</th></tr>\n";
    for (const CriterionResult& c : r.criteria) {
        const char* result = !c.checked ? "not checked" : c.passed ? "passed" : "failed";
        const char* cls = !c.checked ? "off" : c.passed ? "ok" : "bad";
        out << "<tr data-criterion=\"" << CriterionName(c.id) << "\" data-result=\""
            << (!c.checked ? kCriterionNotChecked
                : c.passed ? kCriterionPassed
                           : kCriterionFailed)
            << "\"><td>" << EscapeHtml(CriterionCaption(c.id)) << "</td><td>" << EscapeHtml(c.limit)
            << "</td><td>" << EscapeHtml(c.measured) << "</td><td class=\"" << cls << "\">" << result
            << "</td><td"
            << (c.firstBreach
                    ? " data-offset-ms=\"" + std::to_string(c.firstBreach->monoMs - r.start.monoMs) + "\""
                    : std::string())
            << ">"
            << (c.firstBreach
                    ? EscapeHtml(TimeText(*c.firstBreach) + " (" + OffsetText(r.start, *c.firstBreach) + ")")
                    : std::string("-"))
            << "</td></tr>\n";
    }
    out << "</table>\n";
}

void WriteSvg(std::ostringstream& out, const ReportGraph& g) {
    const int w = kGraphWidth, h = kGraphHeight, left = 60, right = 12, top = 24, bottom = 28;
    const double pw = w - left - right, ph = h - top - bottom;
    const auto X = [&](double x) { return Fixed(left + x * pw, 1); };
    const auto Y = [&](double y) { return Fixed(top + (1 - y) * ph, 1); };
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << w << "\" height=\"" << h
        << "\" viewBox=\"0 0 " << w << " " << h
        << "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"10\">\n<title>"
        << EscapeHtml(g.title) << "</title>\n";
    out << "<text x=\"" << left << "\" y=\"14\" font-size=\"12\" font-weight=\"bold\">" << EscapeHtml(g.title)
        << " (" << EscapeHtml(g.unit) << ")</text>\n";
    out << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << pw << "\" height=\"" << ph
        << "\" fill=\"none\" stroke=\"#888\"/>\n";
    for (const auto& [y, label] : g.yTicks)
        out << "<line x1=\"" << left << "\" x2=\"" << w - right << "\" y1=\"" << Y(y) << "\" y2=\"" << Y(y)
            << "\" stroke=\"#ddd\"/><text x=\"" << left - 4 << "\" y=\"" << Y(y)
            << "\" dy=\"3\" text-anchor=\"end\">" << EscapeHtml(label) << "</text>\n";
    for (const auto& [x, label] : g.xTicks)
        out << "<text x=\"" << X(x) << "\" y=\"" << h - 10 << "\" text-anchor=\"middle\">"
            << EscapeHtml(label) << "</text>\n";
    for (const double x : g.drops)
        out << "<line x1=\"" << X(x) << "\" x2=\"" << X(x) << "\" y1=\"" << top << "\" y2=\"" << top + ph
            << "\" stroke=\"#b00000\" stroke-dasharray=\"3,3\"/>\n";
    int legend = 0;
    for (const ReportGraph::Line& line : g.lines) {
        for (const auto& run : line.runs) {
            out << "<polyline fill=\"none\" stroke=\"" << line.color << "\" stroke-width=\"1.5\" points=\"";
            for (const auto& [x, y] : run)
                out << X(x) << "," << Y(y) << " ";
            out << "\"/>\n";
            if (run.size() == 1)
                out << "<circle cx=\"" << X(run[0].first) << "\" cy=\"" << Y(run[0].second)
                    << "\" r=\"2\" fill=\"" << line.color << "\"/>\n";
        }
        if (g.lines.size() > 1)
            out << "<text x=\"" << w - right - 150 + 75 * legend++ << "\" y=\"14\" fill=\"" << line.color
                << "\">" << EscapeHtml(line.name) << "</text>\n";
    }
    if (g.empty)
        out << "<text x=\"" << left + pw / 2 << "\" y=\"" << top + ph / 2
            << "\" text-anchor=\"middle\" fill=\"#666\">"
            << "nothing measured</text>\n";
    out << "</svg>\n";
}

// Round steps for an axis from lo to hi.
std::vector<double> NiceTicks(double lo, double hi) {
    const double span = hi - lo;
    const double raw = span / 4;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double step = mag;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * mag;
        if (step >= raw)
            break;
    }
    std::vector<double> ticks;
    for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step)
        ticks.push_back(v);
    return ticks;
}

ReportGraph MakeGraph(const rec::LineStore& store, const LineTestResult& r, const std::string& title,
                      const std::string& unit, std::vector<std::pair<rec::Series, std::string>> series) {
    ReportGraph g;
    g.title = title;
    g.unit = unit;
    const std::int64_t from = r.start.wallMs, to = std::max(r.end.wallMs, r.start.wallMs + 1);
    std::vector<std::vector<rec::Polyline>> all;
    double lo = 0, hi = 0;
    bool any = false;
    for (const auto& [s, name] : series) {
        all.push_back(rec::Runs(rec::Decimate(store, s, from, to, 600)));
        for (const rec::Polyline& p : all.back()) {
            for (const rec::Point& pt : p) {
                lo = any ? std::min(lo, pt.value) : pt.value;
                hi = any ? std::max(hi, pt.value) : pt.value;
                any = true;
            }
        }
    }
    g.empty = !any;
    if (!any) {
        lo = 0;
        hi = 1;
    }
    if (hi - lo < 1e-9) {
        lo -= 1;
        hi += 1;
    }
    const double pad = (hi - lo) * 0.08;
    lo -= pad;
    hi += pad;
    for (const double v : NiceTicks(lo, hi)) // no "-0" for a tick at zero
        g.yTicks.emplace_back((v - lo) / (hi - lo),
                              Fixed(std::fabs(v) < 1e-9 ? 0.0 : v, std::fabs(hi - lo) < 5 ? 1 : 0));
    const auto X = [&](std::int64_t ms) {
        return static_cast<double>(ms - from) / static_cast<double>(to - from);
    };
    for (int i = 0; i <= 4; ++i) {
        const std::int64_t ms = from + (to - from) * i / 4;
        rec::SampleTime t;
        t.wallMs = ms;
        t.monoMs = r.start.monoMs + (ms - from);
        g.xTicks.emplace_back(X(ms), OffsetText(r.start, t));
    }
    for (const rec::SampleTime& d : r.drops)
        g.drops.push_back(X(d.wallMs));
    for (std::size_t i = 0; i < series.size(); ++i) {
        ReportGraph::Line line;
        line.name = series[i].second;
        line.color = kColors[i % 3];
        for (const rec::Polyline& p : all[i]) {
            std::vector<std::pair<double, double>> run;
            for (const rec::Point& pt : p)
                run.emplace_back(X(pt.wallMs), (pt.value - lo) / (hi - lo));
            line.runs.push_back(std::move(run));
        }
        g.lines.push_back(std::move(line));
    }
    return g;
}

void WriteJournal(std::ostringstream& out, const LineTestResult& r) {
    out << "<h2>Journal</h2>\n<table class=\"journal\">\n<tr><th>Time</th><th>Since start</th><th>Event</th>"
           "</tr>\n";
    r.recording->Read([&](const rec::LineStore& store) {
        for (const rec::Event& e : store.events)
            out << "<tr data-event=\"" << rec::EventKindName(e.kind) << "\"><td>"
                << EscapeHtml(TimeText(e.time)) << "</td><td>" << EscapeHtml(OffsetText(r.start, e.time))
                << "</td><td>" << EscapeHtml(e.text) << "</td></tr>\n";
    });
    out << "</table>\n";
}

std::string VerdictSummary(const LineTestResult& r) {
    if (r.verdict == Verdict::NotRun)
        return "The test could not run: " + r.notRunReason + ".";
    std::string failed;
    for (const CriterionResult& c : r.criteria) {
        if (c.checked && !c.passed)
            failed += (failed.empty() ? "" : ", ") + std::string(CriterionCaption(c.id));
    }
    std::string text = failed.empty() ? "Every criterion checked was met." : "Not met: " + failed + ".";
    if (r.stopped)
        text += " The test was stopped before its time; a stopped test is no pass.";
    if (r.boardLost)
        text += " The board stopped answering and the test ended early.";
    return text;
}

} // namespace

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD for a byte that starts no valid sequence
            ++i;
            continue;
        }
        const char c = text[i];
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if (n == 1 && static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
                out += ' ';
            else if (n == 1 && c == 0x7F)
                out += ' ';
            else
                out.append(text, i, n);
        }
        i += n;
    }
    return out;
}

std::vector<ReportGraph> ReportGraphs(const LineTestResult& r) {
    std::vector<ReportGraph> graphs;
    r.recording->Read([&](const rec::LineStore& store) {
        graphs.push_back(MakeGraph(store, r, "SNR", "dB", {{rec::Series::Snr, "SNR"}}));
        graphs.push_back(MakeGraph(store, r, "Corrected RS errors", "per second",
                                   {{rec::Series::RsPerSecond, "RS errors"}}));
        graphs.push_back(
            MakeGraph(store, r, "Frame rates", "frames per second",
                      {{rec::Series::TxFramesRate, "transmitted"}, {rec::Series::RxFramesRate, "received"}}));
    });
    return graphs;
}

std::string ReportHtml(const LineTestResult& r, const ReportOptions& options) {
    std::ostringstream out;
    const LineTestOptions& o = r.options;
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Line test report"
        << (o.site.empty() ? "" : " - " + EscapeHtml(o.site)) << "</title>\n<style>" << kCss
        << (options.textDocument ? "" : kCellPadding)
        << "</style>\n</head>\n<body>\n<h1>Line test report</h1>\n";
    out << "<p><span id=\"verdict\" class=\"verdict " << VerdictName(r.verdict) << "\" data-verdict=\""
        << VerdictName(r.verdict) << "\">" << VerdictText(r.verdict) << "</span></p>\n<p id=\"summary\">"
        << EscapeHtml(VerdictSummary(r)) << "</p>\n";
    {
        Table t(out, "test");
        t.Row("Site", {o.site}, ReportRowId(ReportRow::kSite));
        t.Row("Operator", {o.operatorName}, ReportRowId(ReportRow::kOperator));
        out << "<tr data-figure=\"" << ReportRowId(ReportRow::kNote) << "\"><th>Note</th><td class=\"note\">"
            << EscapeHtml(o.note) << "</td></tr>\n";
        t.Row("Started", {TimeText(r.start)}, ReportRowId(ReportRow::kStart));
        t.Row("Ended", {TimeText(r.end)}, ReportRowId(ReportRow::kEnd));
        t.Row("Duration",
              {DurationText(std::chrono::milliseconds((r.end.monoMs - r.start.monoMs) / 100 * 100)) + " of " +
               DurationText(o.duration) + (r.stopped ? " (stopped)" : "")},
              ReportRowId(ReportRow::kDuration));
        t.Row("Pass interval", {DurationText(o.interval)}, ReportRowId(ReportRow::kInterval));
        t.Row("Tool", {o.toolVersion}, ReportRowId(ReportRow::kTool));
    }
    WriteCriteria(out, r);
    WriteBoardStates(out, r);
    WriteLineFigures(out, r);
    WriteIntervals(out, r);
    WriteEthernet(out, r);
    out << "<h2>Graphs</h2>\n";
    const std::vector<ReportGraph> graphs = ReportGraphs(r);
    for (std::size_t i = 0; i < graphs.size(); ++i) {
        if (options.textDocument) // drawn narrower there, to fit the printed page
            out << "<p><img src=\"graph" << i << ".png\" width=\"" << kGraphWidth * 3 / 4 << "\" height=\""
                << kGraphHeight * 3 / 4 << "\"></p>\n";
        else
            WriteSvg(out, graphs[i]);
    }
    WriteJournal(out, r);
    out << "</body>\n</html>\n";
    std::string html = out.str();
    if (options.textDocument) {
        const std::string plain = "<table";
        const std::string print = "<table width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"3\"";
        for (std::size_t at = html.find(plain); at != std::string::npos;
             at = html.find(plain, at + print.size()))
            html.replace(at, plain.size(), print);
    }
    return html;
}

} // namespace tessor::linetest
