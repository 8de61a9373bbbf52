#include "linetest/LineTest.h"

#include "linetest/Figures.h"


#include <algorithm>
#include <cmath>
#include <ctime>

namespace tessor::linetest {

namespace {

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
bool IsAnswer(Outcome outcome) {
    return outcome == Outcome::Answered;
}

// A read of the reads before and after the passes that the board answered, or that was not made because
// the line was down.
bool Reached(Outcome outcome) {
    return IsAnswer(outcome) || outcome == Outcome::LineDown;
}

// Keeps the earlier of two moments.
void KeepFirst(std::optional<rec::SampleTime>* first, const rec::SampleTime& time) {
    if (!*first || time.monoMs < (*first)->monoMs)
        *first = time;
}

bool Seen(const rec::PhySample& s, int indicator) {
    return s.values.Indicator(indicator).value_or(false);
}

std::string Counted(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string IdText(const IdentificationRead& read) {
    if (read.outcome != Outcome::Answered)
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

// What the PHY passes showed that a criterion judges.
struct PhyFindings {
    std::optional<rec::SampleTime> snrBreach;
    std::optional<rec::SampleTime> unanswered;
    std::optional<rec::SampleTime> linkBreach; // a changed link fail counter or a micro interruption
};

// The link fail counter is 8 bits: each pass adds its change over the wrap, so 250 -> 3 is +9 and a
// counter that comes round to where it started has still changed.
void FollowLinkFail(LineTestResult* r, const rec::PhySample& s, int* change, PhyFindings* f) {
    if (!s.values.linkFailCount)
        return;
    const int count = *s.values.linkFailCount;
    if (r->linkFailLast) {
        const int step = (count - *r->linkFailLast) & 0xFF;
        if (step != 0)
            KeepFirst(&f->linkBreach, s.time);
        *change += step;
    } else {
        r->linkFailFirst = count;
    }
    r->linkFailLast = count;
}

void EvaluatePhy(LineTestResult* r, const rec::LineStore& store, PhyFindings* f) {
    int change = 0;
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        const rec::PhySample& s = store.phy[i];
        if (!s.answered) {
            KeepFirst(&f->unanswered, s.time);
            continue;
        }
        const PhyValues& v = s.values;
        if (v.snrCenti) {
            Accumulate(&r->snrCenti, *v.snrCenti);
            if (*v.snrCenti < r->options.criteria.minSnrCenti)
                KeepFirst(&f->snrBreach, s.time);
        }
        if (v.mseCenti)
            Accumulate(&r->mseCenti, *v.mseCenti);
        if (v.txPowerDbmHz)
            Accumulate(&r->txPowerDb, *v.txPowerDbmHz);
        FollowLinkFail(r, s, &change, f);
        // Latched and cleared by the read: every pass that sees it is one.
        if (Seen(s, kIndMicroInterruption)) {
            ++r->microInterruptions;
            KeepFirst(&f->linkBreach, s.time);
        }
    }
    if (r->linkFailFirst)
        r->linkFailChange = change;
}

// The line as each pass saw it, in time order: the reads before, the PHY passes, the reads after. A drop
// is a pass that saw it down after it was up, or first. Gives how many passes saw the line at all.
int FindDrops(LineTestResult* r, const rec::LineStore& store) {
    int seen = 0;
    bool wasUp = true;
    const auto see = [&](const rec::SampleTime& time, bool up) {
        ++seen;
        if (!up) {
            ++r->downPasses;
            if (wasUp)
                r->drops.push_back(time);
        }
        wasUp = up;
    };
    if (r->before.made && r->before.lineUp)
        see(r->before.time, *r->before.lineUp);
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        const rec::PhySample& s = store.phy[i];
        if (s.answered && s.values.Indicator(kIndFullConstellation))
            see(s.time, Seen(s, kIndFullConstellation) || Seen(s, kIndReducedConstellation));
    }
    if (r->after.made && r->after.lineUp)
        see(r->after.time, *r->after.lineUp);
    return seen;
}

// The reads before and after the passes that went without an answer.
void UnansweredStates(const LineTestResult& r, std::optional<rec::SampleTime>* unanswered) {
    for (const BoardState* state : {&r.before, &r.after}) {
        if (state->made && !state->answered)
            KeepFirst(unanswered, state->time);
    }
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
        if (!s.answered)
            KeepFirst(unanswered, s.time);
        if (!breach && s.answered && WatchedErrors(s.totals) > 0)
            breach = s.time;
    }
    return breach;
}

// Any drop the passes saw fails it: a changed counter (over its wrap), a micro interruption, the line down.
CriterionResult JudgeLinkFail(const LineTestResult& r, std::optional<rec::SampleTime> breach,
                              const std::optional<rec::SampleTime>& lineDrop) {
    CriterionResult c = Judge(CriterionId::LinkFailUnchanged, r.options.criteria.checkLinkFail);
    c.limit = "no change, no micro interruption, line never down";
    c.measured = r.linkFailChange
                     ? std::to_string(*r.linkFailFirst) + " -> " + std::to_string(*r.linkFailLast) + " (+" +
                           std::to_string(*r.linkFailChange) + ")"
                     : "unknown";
    if (r.microInterruptions > 0)
        c.measured += ", " + Counted(r.microInterruptions, "micro interruption", "micro interruptions");
    if (r.downPasses > 0)
        c.measured += ", line down at " + Counted(r.downPasses, "pass", "passes");
    if (lineDrop)
        KeepFirst(&breach, *lineDrop);
    c.passed = r.linkFailChange && *r.linkFailChange == 0 && r.microInterruptions == 0 && r.downPasses == 0;
    c.firstBreach = breach;
    return c;
}

} // namespace

const std::array<int, 2> kWatchedErrorCounters{kCounterFrameCheckSequenceErrors, kCounterReceiveErrors};

bool MinSnrDbAccepted(double db) {
    return std::isfinite(db) && db >= 0 && db <= kMinSnrHighestDb;
}

bool MaxRsPerSecondAccepted(double perSecond) {
    return std::isfinite(perSecond) && perSecond >= 0 && perSecond <= kMaxRsPerSecondHighest;
}

bool* CheckOf(Criteria* criteria, CriterionId id) {
    switch (id) {
    case CriterionId::MinSnr:
        return &criteria->checkSnr;
    case CriterionId::NoLineDrop:
        return &criteria->checkLineDrop;
    case CriterionId::LinkFailUnchanged:
        return &criteria->checkLinkFail;
    case CriterionId::RsPerSecond:
        return &criteria->checkRs;
    case CriterionId::NoEthernetErrors:
        return &criteria->checkEthernetErrors;
    case CriterionId::Answered:
        break;
    }
    return nullptr;
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
    r->microInterruptions = 0;
    r->downPasses = 0;
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

    PhyFindings phy;
    std::optional<rec::SampleTime> ethBreach;
    bool haveEth = false;
    int lineSeen = 0;
    r->recording->Read([&](const rec::LineStore& store) {
        EvaluatePhy(r, store, &phy);
        ethBreach = EthernetBreach(store, &phy.unanswered);
        haveEth = !store.eth.empty();
        lineSeen = FindDrops(r, store);
    });
    UnansweredStates(*r, &phy.unanswered);
    const std::optional<rec::SampleTime> lineDrop =
        r->drops.empty() ? std::nullopt : std::optional<rec::SampleTime>(r->drops.front());

    CriterionResult snr = Judge(CriterionId::MinSnr, k.checkSnr);
    snr.limit = "at least " + FormatHundredths(k.minSnrCenti) + " dB";
    snr.measured = r->snrCenti.count ? "lowest " + Centi(r->snrCenti.min) + " dB" : "unknown";
    snr.passed = r->snrCenti.count > 0 && !phy.snrBreach;
    snr.firstBreach = phy.snrBreach;
    r->criteria.push_back(snr);

    CriterionResult drop = Judge(CriterionId::NoLineDrop, k.checkLineDrop);
    drop.limit = "line up at every pass";
    drop.measured = lineSeen > 0 ? std::to_string(r->drops.size()) + " drops" : "unknown";
    drop.passed = lineSeen > 0 && r->drops.empty();
    drop.firstBreach = lineDrop;
    r->criteria.push_back(drop);

    r->criteria.push_back(JudgeLinkFail(*r, phy.linkBreach, lineDrop));

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
                       ? std::to_string(r->ethernet.totals[kCounterFrameCheckSequenceErrors]) + " FCS, " +
                             std::to_string(r->ethernet.totals[kCounterReceiveErrors]) + " receive errors"
                       : "unknown";
    eth.passed = haveEth && r->ethernetSeconds > 0 && errors == 0;
    eth.firstBreach = ethBreach;
    r->criteria.push_back(eth);

    CriterionResult answered = Judge(CriterionId::Answered, true);
    answered.limit = "every pass";
    answered.measured = std::to_string(r->passes - r->unansweredPasses) + " of " + std::to_string(r->passes) +
                        " passes answered" + (r->boardLost ? ", then the board was lost" : "");
    answered.passed = r->passes > 0 && r->unansweredPasses == 0 && !r->boardLost;
    answered.firstBreach = phy.unanswered;
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

void CLineTest::ReadState(LineTestResult* r, BoardState* state, const char* when) {
    state->made = true;
    state->time = rec::Now();
    state->lineUp = m_board.LineUp();
    state->local = m_board.ReadIdentification(kLocal);
    const bool up = state->lineUp.value_or(false);
    if (up)
        state->remote = m_board.ReadIdentification(kRemote);
    else
        state->remote.outcome = Outcome::LineDown;
    state->settings = m_board.ReadLinkSettings(m_options.crystalHz, up);
    // These reads are a pass of the test: a silence in them is a pass without an answer.
    ++r->passes;
    state->answered = !m_board.Lost() && Reached(state->local.outcome) && Reached(state->remote.outcome) &&
                      Reached(state->settings.outcome);
    if (!state->answered)
        ++r->unansweredPasses;
    Note(std::string(when) + ": line " +
         (state->lineUp ? (*state->lineUp ? "up" : "down") : std::string("unknown")) + "; local modem " +
         IdText(state->local) + "; remote modem " + IdText(state->remote) + "; link settings " +
         OutcomeText(state->settings.outcome));
}

void CLineTest::AddPhy(LineTestResult* r, const PhyRead& read) {
    const rec::SampleTime now = rec::Now();
    ++r->passes;
    if (read.outcome == Outcome::Garbled) {
        // The corrected-error count was taken and cleared, but what it said is lost.
        ++r->garbledPasses;
        m_lastPhy = now;
        Note("Pass " + std::to_string(r->passes) + ": a garbled reply; its PHY values are lost");
        return;
    }
    const bool answered = read.outcome == Outcome::Answered;
    const rec::PhySample sample =
        rec::MakePhySample(now, DecodePhy(ops::RegistersOf(read.raw), m_references), answered);
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
    if (read.outcome == Outcome::Garbled) {
        m_lastEth = now;
        Note("Pass " + std::to_string(r->passes) +
             ": a garbled reply; the Ethernet counts it carried are lost");
        return;
    }
    const bool answered = read.outcome == Outcome::Answered;
    // The counters clear when read: the first pass only starts the count.
    if (answered && m_lastEth) {
        for (std::size_t i = 0; i < r->ethernet.totals.size(); ++i)
            r->ethernet.totals[i] += ops::CounterCount(read.pass.raw[i]).value_or(0);
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
        p.snrCenti = s.values.snrCenti;
        if (s.values.Indicator(kIndFullConstellation))
            p.lineUp = s.values.LineUp();
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
    if (side.outcome != Outcome::Answered) {
        r.notRunReason = std::string("the board did not tell its side (") + OutcomeText(side.outcome) + ")";
    } else {
        r.side = side.side;
        m_references = side.references;
        report("before");
        ReadState(&r, &r.before, "Before");
    }
    if (r.notRunReason.empty() && m_board.Lost())
        r.notRunReason = "the board did not answer";
    if (r.notRunReason.empty())
        RunPasses(&r, report);
    if (r.notRunReason.empty() && !m_board.Lost()) {
        report("after");
        ReadState(&r, &r.after, "After");
        if (m_board.Lost()) {
            r.boardLost = true;
            Note("The board stopped answering in the reads after the passes");
        }
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
        Outcome ethernet = Outcome::Answered; // a lost board: its PHY reads decide
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
