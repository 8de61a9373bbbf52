#include "linetest/LineTest.h"

#include "linetest/Figures.h"

#include "link/RegisterAccess.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace tessor::linetest {

namespace {

const char* const kCaptions[] = {"Minimum SNR",
                                 "No line drop",
                                 "Link fail counter unchanged",
                                 "Mean corrected RS errors per second",
                                 "No Ethernet FCS or receive errors",
                                 "The board answered every pass"};
const char* const kNames[] = {"min_snr",       "no_line_drop",       "link_fail_unchanged",
                              "rs_per_second", "no_ethernet_errors", "answered_every_pass"};

std::int64_t MonoNow() {
    return rec::Now().monoMs;
}

void Accumulate(Statistic* statistic, double value) {
    if (statistic->count == 0) {
        statistic->min = value;
        statistic->max = value;
    }
    statistic->min = std::min(statistic->min, value);
    statistic->max = std::max(statistic->max, value);
    statistic->mean += (value - statistic->mean) / static_cast<double>(++statistic->count);
}

// The board answered what was asked: a garbled reply carried nothing the test could see.
bool IsAnswer(ReadOutcome outcome) {
    return outcome == ReadOutcome::Answered;
}

std::string IdText(const IdentificationRead& read) {
    if (read.outcome != ReadOutcome::Answered)
        return OutcomeText(read.outcome);
    return "8C72 = " + ops::IdentificationText(read.id.id72) +
           ", 8C73 = " + ops::IdentificationText(read.id.id73) +
           ", 8C6F = " + ops::IdentificationText(read.id.id6F);
}

CriterionResult Judge(CriterionId id, bool checked) {
    CriterionResult c;
    c.id = id;
    c.checked = checked;
    return c;
}

// The first event of a kind in the test's journal.
std::optional<rec::SampleTime> FirstEvent(const rec::LineStore& store, rec::EventKind kind) {
    for (const rec::Event& e : store.events) {
        if (e.kind == kind)
            return e.time;
    }
    return std::nullopt;
}

void EvaluatePhy(LineTestResult* r, const rec::LineStore& store, std::optional<rec::SampleTime>* snrBreach,
                 std::optional<rec::SampleTime>* unanswered) {
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        const rec::PhySample& s = store.phy[i];
        if (!s.answered) {
            if (!*unanswered)
                *unanswered = s.time;
            continue;
        }
        if (s.snrCenti != rec::kNoValue) {
            Accumulate(&r->snrCenti, s.snrCenti);
            if (!*snrBreach && s.snrCenti < r->options.criteria.minSnrCenti)
                *snrBreach = s.time;
        }
        if (s.mseCenti != rec::kNoValue)
            Accumulate(&r->mseCenti, s.mseCenti);
        if (s.txPowerDb != rec::kNoValue)
            Accumulate(&r->txPowerDb, s.txPowerDb);
        if (s.linkFailCount != rec::kNoValue) {
            if (!r->linkFailFirst)
                r->linkFailFirst = s.linkFailCount;
            r->linkFailLast = s.linkFailCount;
        }
    }
    if (r->linkFailFirst)
        r->linkFailChange = (*r->linkFailLast - *r->linkFailFirst) & 0xFF;
}

// The pass at which the mean so far first went above the limit.
std::optional<rec::SampleTime> RsBreach(const LineTestResult& r) {
    std::uint64_t count = 0;
    double seconds = 0;
    for (const RsCount& c : r.rsCounts) {
        count += c.count;
        seconds += c.seconds;
        if (seconds > 0 && static_cast<double>(count) / seconds > r.options.criteria.maxRsPerSecond)
            return c.time;
    }
    return std::nullopt;
}

std::uint64_t WatchedErrors(const std::array<std::uint64_t, ops::kEthernetCounterCount>& totals) {
    std::uint64_t sum = 0;
    for (const int i : kWatchedErrorCounters)
        sum += totals[static_cast<std::size_t>(i)];
    return sum;
}

std::optional<rec::SampleTime> EthernetBreach(const rec::LineStore& store,
                                              std::optional<rec::SampleTime>* unanswered) {
    std::optional<rec::SampleTime> breach;
    for (std::size_t i = 0; i < store.eth.size(); ++i) {
        const rec::EthSample& s = store.eth[i];
        if (!s.answered && (!*unanswered || s.time.monoMs < (*unanswered)->monoMs))
            *unanswered = s.time;
        if (!breach && s.answered && WatchedErrors(s.totals) > 0)
            breach = s.time;
    }
    return breach;
}

} // namespace

const std::array<int, 2> kWatchedErrorCounters{14, 11}; // frame check sequence errors, receive errors

const char* CriterionCaption(CriterionId id) {
    return kCaptions[static_cast<int>(id)];
}

const char* CriterionName(CriterionId id) {
    return kNames[static_cast<int>(id)];
}

const char* VerdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Passed:
        return "PASSED";
    case Verdict::Failed:
        return "FAILED";
    case Verdict::Stopped:
        return "STOPPED";
    case Verdict::NotRun:
        break;
    }
    return "NOT RUN";
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Passed:
        return "passed";
    case Verdict::Failed:
        return "failed";
    case Verdict::Stopped:
        return "stopped";
    case Verdict::NotRun:
        break;
    }
    return "not_run";
}

std::string DurationText(std::chrono::milliseconds duration) {
    const long long ms = duration.count();
    if (ms % 1000 != 0 || ms < 60000)
        return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s"
                              : Fixed(static_cast<double>(ms) / 1000.0, 1) + " s";
    const long long s = ms / 1000;
    std::string text;
    if (s >= 3600)
        text = std::to_string(s / 3600) + " h";
    if (s % 3600 >= 60)
        text += (text.empty() ? "" : " ") + std::to_string(s % 3600 / 60) + " min";
    if (s % 60)
        text += (text.empty() ? "" : " ") + std::to_string(s % 60) + " s";
    return text;
}

std::string TimeText(const rec::SampleTime& time) {
    const std::time_t t = static_cast<std::time_t>(time.wallMs / 1000);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string OffsetText(const rec::SampleTime& start, const rec::SampleTime& time) {
    const long long ms = std::max<long long>(0, time.monoMs - start.monoMs);
    char text[32];
    if (ms < 60000)
        std::snprintf(text, sizeof text, "+%.1f s", static_cast<double>(ms) / 1000.0);
    else
        std::snprintf(text, sizeof text, "+%lld:%02lld", ms / 60000, ms / 1000 % 60);
    return text;
}

void Evaluate(LineTestResult* r) {
    const Criteria& k = r->options.criteria;
    r->snrCenti = {};
    r->mseCenti = {};
    r->txPowerDb = {};
    r->linkFailFirst.reset();
    r->linkFailLast.reset();
    r->linkFailChange.reset();
    r->drops.clear();
    r->criteria.clear();
    r->rsTotal = 0;
    r->rsSeconds = 0;
    for (const RsCount& c : r->rsCounts) {
        r->rsTotal += c.count;
        r->rsSeconds += c.seconds;
    }
    r->rsPerSecond.reset();
    if (r->rsSeconds > 0)
        r->rsPerSecond = static_cast<double>(r->rsTotal) / r->rsSeconds;

    std::optional<rec::SampleTime> snrBreach, unanswered, ethBreach, lineDrop, linkFail;
    bool haveEth = false;
    r->recording->Read([&](const rec::LineStore& store) {
        EvaluatePhy(r, store, &snrBreach, &unanswered);
        ethBreach = EthernetBreach(store, &unanswered);
        haveEth = !store.eth.empty();
        for (const rec::Event& e : store.events) {
            if (e.kind == rec::EventKind::LineDown)
                r->drops.push_back(e.time);
        }
        lineDrop = FirstEvent(store, rec::EventKind::LineDown);
        linkFail = FirstEvent(store, rec::EventKind::LinkFail);
    });

    CriterionResult snr = Judge(CriterionId::MinSnr, k.checkSnr);
    snr.limit = "at least " + ops::FormatHundredths(k.minSnrCenti) + " dB";
    snr.measured = r->snrCenti.count ? "lowest " + Centi(r->snrCenti.min) + " dB" : "unknown";
    snr.passed = r->snrCenti.count > 0 && !snrBreach;
    snr.firstBreach = snrBreach;
    r->criteria.push_back(snr);

    CriterionResult drop = Judge(CriterionId::NoLineDrop, k.checkLineDrop);
    drop.limit = "line up at every pass";
    drop.measured = r->passes > r->unansweredPasses ? std::to_string(r->drops.size()) + " drops" : "unknown";
    drop.passed = r->passes > r->unansweredPasses && r->drops.empty();
    drop.firstBreach = lineDrop;
    r->criteria.push_back(drop);

    CriterionResult fail = Judge(CriterionId::LinkFailUnchanged, k.checkLinkFail);
    fail.limit = "no change";
    fail.measured = r->linkFailChange
                        ? std::to_string(*r->linkFailFirst) + " -> " + std::to_string(*r->linkFailLast) +
                              " (+" + std::to_string(*r->linkFailChange) + ")"
                        : "unknown";
    fail.passed = r->linkFailChange && *r->linkFailChange == 0 && !linkFail;
    fail.firstBreach = linkFail;
    r->criteria.push_back(fail);

    CriterionResult rs = Judge(CriterionId::RsPerSecond, k.checkRs);
    rs.limit = "at most " + Fixed(k.maxRsPerSecond, 2) + " per second";
    rs.measured = r->rsPerSecond ? Fixed(*r->rsPerSecond, 2) + " per second (" + std::to_string(r->rsTotal) +
                                       " in " + Fixed(r->rsSeconds, 1) + " s)"
                                 : "unknown";
    rs.passed = r->rsPerSecond && *r->rsPerSecond <= k.maxRsPerSecond;
    if (!rs.passed)
        rs.firstBreach = RsBreach(*r);
    r->criteria.push_back(rs);

    CriterionResult eth = Judge(CriterionId::NoEthernetErrors, k.checkEthernetErrors);
    eth.limit = "none";
    const std::uint64_t errors = WatchedErrors(r->ethernet.totals);
    eth.measured = haveEth && r->ethernetSeconds > 0
                       ? std::to_string(r->ethernet.totals[14]) + " FCS, " +
                             std::to_string(r->ethernet.totals[11]) + " receive errors"
                       : "unknown";
    eth.passed = haveEth && r->ethernetSeconds > 0 && errors == 0;
    eth.firstBreach = ethBreach;
    r->criteria.push_back(eth);

    CriterionResult answered = Judge(CriterionId::Answered, true);
    answered.limit = "every pass";
    answered.measured = std::to_string(r->passes - r->unansweredPasses) + " of " + std::to_string(r->passes) +
                        " passes answered" + (r->boardLost ? ", then the board was lost" : "");
    answered.passed = r->passes > 0 && r->unansweredPasses == 0 && !r->boardLost;
    answered.firstBreach = unanswered;
    r->criteria.push_back(answered);

    // A stopped test fails on a breach it saw; what it could not measure only leaves it unfinished.
    bool failed = false;
    bool breached = false;
    for (const CriterionResult& c : r->criteria) {
        failed = failed || (c.checked && !c.passed);
        breached = breached || (c.checked && !c.passed && c.firstBreach);
    }
    if (!r->notRunReason.empty() || r->passes == 0)
        r->verdict = Verdict::NotRun;
    else if (r->stopped)
        r->verdict = breached ? Verdict::Failed : Verdict::Stopped;
    else
        r->verdict = failed ? Verdict::Failed : Verdict::Passed;
}

CLineTest::CLineTest(ILineTestBoard& board, LineTestOptions options, std::shared_ptr<rec::CLineRecorder> feed)
    : m_board(board), m_options(std::move(options)), m_feed(std::move(feed)),
      m_own(std::make_shared<rec::CLineRecorder>(m_options.interval.count())) {}

void CLineTest::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true);
    }
    m_cv.notify_all();
}

bool CLineTest::WaitUntil(std::chrono::steady_clock::time_point when) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_cv.wait_until(lock, when, [this] { return m_stop.load(); });
}

void CLineTest::Note(const std::string& text) {
    const rec::SampleTime now = rec::Now();
    m_own->NoteRecording(now, text);
    if (m_feed)
        m_feed->NoteRecording(now, "Line test: " + text);
}

void CLineTest::ReadState(BoardState* state, const char* when) {
    state->made = true;
    state->time = rec::Now();
    state->lineUp = m_board.LineUp();
    state->local = m_board.ReadIdentification(kLocal);
    const bool up = state->lineUp.value_or(false);
    if (up)
        state->remote = m_board.ReadIdentification(kRemote);
    else
        state->remote.outcome = ReadOutcome::LineDown;
    state->settings = m_board.ReadLinkSettings(m_options.crystalHz, up);
    Note(std::string(when) + ": line " +
         (state->lineUp ? (*state->lineUp ? "up" : "down") : std::string("unknown")) + "; local modem " +
         IdText(state->local) + "; remote modem " + IdText(state->remote) + "; link settings " +
         OutcomeText(state->settings.outcome));
}

void CLineTest::AddPhy(LineTestResult* r, const PhyRead& read) {
    const rec::SampleTime now = rec::Now();
    ++r->passes;
    if (read.outcome == ReadOutcome::Garbled) {
        // The corrected-error count was taken and cleared, but what it said is lost.
        ++r->garbledPasses;
        m_lastPhy = now;
        Note("Pass " + std::to_string(r->passes) + ": a garbled reply; its PHY values are lost");
        return;
    }
    const bool answered = read.outcome == ReadOutcome::Answered;
    const rec::PhyRaw raw = rec::PhyRawOf(read.raw);
    const rec::PhySample sample =
        rec::MakePhySample(now, raw, m_references ? m_references->snr : rec::kNoValue,
                           m_references ? m_references->mse : rec::kNoValue, answered);
    m_own->AddPhy(sample);
    if (m_feed)
        m_feed->AddPhy(sample);
    if (!answered)
        return;
    // The counter clears when read: the first pass only starts the count.
    if (m_lastPhy && read.raw.rsCorrected.ok())
        r->rsCounts.push_back({now, static_cast<std::uint32_t>(read.raw.rsCorrected.value),
                               static_cast<double>(now.monoMs - m_lastPhy->monoMs) / 1000.0});
    m_lastPhy = now;
}

void CLineTest::AddEthernet(LineTestResult* r, const EthernetRead& read) {
    const rec::SampleTime now = rec::Now();
    if (read.outcome == ReadOutcome::Garbled) {
        m_lastEth = now;
        Note("Pass " + std::to_string(r->passes) +
             ": a garbled reply; the Ethernet counts it carried are lost");
        return;
    }
    const bool answered = read.outcome == ReadOutcome::Answered;
    // The counters clear when read: the first pass only starts the count.
    if (answered && m_lastEth) {
        r->ethernet.Add(read.pass);
        r->ethernetSeconds += static_cast<double>(now.monoMs - m_lastEth->monoMs) / 1000.0;
    }
    if (answered)
        m_lastEth = now;
    rec::EthSample sample;
    sample.time = now;
    sample.answered = answered;
    sample.totals = r->ethernet.totals;
    for (std::size_t i = 0; i < sample.reads.size(); ++i) {
        if (!read.pass.raw[i].ok())
            sample.failedReads = static_cast<std::uint16_t>(sample.failedReads | 1u << i);
        else
            sample.reads[i] = static_cast<std::uint32_t>(read.pass.raw[i].value);
    }
    m_own->AddEth(sample);
    if (m_feed)
        m_feed->AddEth(sample);
}

LineTestProgress CLineTest::Progress(const LineTestResult& r, const char* phase) const {
    LineTestProgress p;
    p.elapsed = std::chrono::milliseconds(MonoNow() - r.start.monoMs);
    p.duration = m_options.duration;
    p.passes = r.passes;
    p.unansweredPasses = r.unansweredPasses;
    p.phase = phase;
    std::uint64_t count = 0;
    double seconds = 0;
    for (const RsCount& c : r.rsCounts) {
        count += c.count;
        seconds += c.seconds;
    }
    p.rsTotal = count;
    if (seconds > 0)
        p.rsPerSecond = static_cast<double>(count) / seconds;
    m_own->Read([&](const rec::LineStore& store) {
        if (store.phy.empty() || !store.phy.back().answered)
            return;
        const rec::PhySample& s = store.phy.back();
        if (s.snrCenti != rec::kNoValue)
            p.snrCenti = s.snrCenti;
        if (s.indicatorsKnown & 1u << rec::kIndFullConstellation)
            p.lineUp = (s.indicators &
                        (1u << rec::kIndFullConstellation | 1u << rec::kIndReducedConstellation)) != 0;
    });
    return p;
}

LineTestResult CLineTest::Run(const ProgressFn& progress) {
    LineTestResult r;
    r.options = m_options;
    r.recording = m_own;
    r.start = rec::Now();
    const auto report = [&](const char* phase) {
        if (progress)
            progress(Progress(r, phase));
    };
    Note("Line test started: " + DurationText(m_options.duration) + ", a pass every " +
         DurationText(m_options.interval));
    const SideRead side = m_board.ReadSide();
    if (side.outcome != ReadOutcome::Answered) {
        r.notRunReason = std::string("the board did not tell its side (") + OutcomeText(side.outcome) + ")";
    } else {
        r.side = side.side;
        m_references = side.references;
        report("before");
        ReadState(&r.before, "Before");
    }
    if (r.notRunReason.empty() && m_board.Lost())
        r.notRunReason = "the board did not answer";
    if (r.notRunReason.empty())
        RunPasses(&r, report);
    if (r.notRunReason.empty() && !m_board.Lost()) {
        report("after");
        ReadState(&r.after, "After");
    }
    r.end = rec::Now();
    if (!r.notRunReason.empty())
        Note("The test could not run: " + r.notRunReason);
    else if (r.stopped)
        Note("Stopped after " +
             DurationText(std::chrono::milliseconds(r.end.monoMs - r.start.monoMs) / 1000 * 1000));
    Evaluate(&r);
    Note(std::string("Verdict: ") + VerdictText(r.verdict));
    return r;
}

void CLineTest::RunPasses(LineTestResult* r, const std::function<void(const char*)>& report) {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + m_options.duration;
    auto next = start;
    for (;;) {
        const PhyRead phy = m_board.RunPhyPass();
        AddPhy(r, phy);
        ReadOutcome ethernet = ReadOutcome::Answered; // a lost board: its PHY reads decide
        if (!m_board.Lost()) {
            const EthernetRead read = m_board.RunEthernetPass();
            AddEthernet(r, read);
            ethernet = read.outcome;
        }
        // The board can fall silent after the PHY reads: that pass went without an answer too.
        if (!IsAnswer(phy.outcome) || !IsAnswer(ethernet))
            ++r->unansweredPasses;
        report("passes");
        if (m_board.Lost()) {
            r->boardLost = true;
            Note("The board stopped answering: the test ends here");
            return;
        }
        if (next >= deadline)
            return;
        next = std::min(next + m_options.interval, deadline);
        if (!WaitUntil(next)) {
            r->stopped = true;
            return;
        }
    }
}

} // namespace tessor::linetest
