#include "linetest/LineTestRunner.h"

#include "linetest/LineTestJudge.h"
#include "linetest/LineTestTexts.h"

#include <algorithm>

namespace tessor::linetest {

namespace {

std::int64_t MonoNow() {
    return rec::Now().monoMs;
}

// The monotonic clock's time of a sample, as the raw-count figures take it.
CClearedCount::Clock::time_point Monotonic(const rec::SampleTime& time) {
    return CClearedCount::Clock::time_point(std::chrono::milliseconds(time.monoMs));
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

std::string IdText(const IdentificationRead& read) {
    if (read.outcome != Outcome::Answered)
        return OutcomeText(read.outcome);
    return "8C72 = " + ops::IdentificationText(read.id.id72) +
           ", 8C73 = " + ops::IdentificationText(read.id.id73) +
           ", 8C6F = " + ops::IdentificationText(read.id.id6F);
}

// One pass as the interval figures take it: the PHY registers and the Ethernet counts it read. A pass
// counts as answered only when both reads were.
PassReads ReadsOf(const rec::SampleTime& time, const PhyRead& phy, const EthernetRead* ethernet) {
    PassReads reads;
    reads.monoMs = time.monoMs;
    reads.wallMs = time.wallMs;
    reads.answered = IsAnswer(phy.outcome) && ethernet && IsAnswer(ethernet->outcome);
    if (phy.pass.answered) // the values the pass rule kept; a garbled reply's are unknown
        reads.phy = phy.pass.values;
    if (ethernet) {
        for (std::size_t i = 0; i < reads.ethernet.size(); ++i) {
            if (ethernet->pass.raw[i].ok())
                reads.ethernet[i] = static_cast<std::uint32_t>(ethernet->pass.raw[i].value);
        }
    }
    return reads;
}

} // namespace

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
        ++r->garbledPasses;
        Note("Pass " + std::to_string(r->passes) + ": a garbled reply; the values it carried are unknown");
    }
    const rec::PhySample sample = rec::MakePhySample(now, read.pass);
    m_own->AddPhy(sample);
    if (m_feed)
        m_feed->AddPhy(sample);
    // The counter clears when read: the first pass only starts the count, and a count not known starts
    // none.
    const RegResult& rs = read.pass.raw.rsCorrected;
    ops::CountRsCorrected(read.pass.raw, Monotonic(now), m_rsCorrected);
    if (!rs.ok())
        return;
    if (const std::optional<double> seconds = m_rsCorrected.Seconds())
        r->rsCounts.push_back({now, static_cast<std::uint32_t>(rs.value), *seconds});
}

void CLineTest::AddEthernet(LineTestResult* r, const EthernetRead& read) {
    const rec::SampleTime now = rec::Now();
    if (read.outcome == Outcome::Garbled)
        Note("Pass " + std::to_string(r->passes) +
             ": a garbled reply; the Ethernet counts it carried are unknown");
    const bool answered = read.outcome == Outcome::Answered;
    // The counters clear when read: the first pass only starts the count, and a pass with a count not
    // known starts none.
    if (answered && m_lastEth) {
        for (std::size_t i = 0; i < r->ethernet.totals.size(); ++i)
            r->ethernet.totals[i] += ops::CounterCount(read.pass.raw[i]).value_or(0);
        r->ethernetSeconds += static_cast<double>(now.monoMs - m_lastEth->monoMs) / 1000.0;
    }
    if (answered)
        m_lastEth = now;
    else
        m_lastEth.reset();
    const rec::EthSample sample =
        rec::MakeEthSample(now, read.pass.raw.data(), read.pass.raw.size(), r->ethernet.totals);
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
    const CCountedRate rs = RsCounted(r.rsCounts);
    p.rsTotal = rs.Total();
    p.rsPerSecond = rs.PerSecond();
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
        if (m_options.refuseSide)
            r.notRunReason = m_options.refuseSide(side.side);
        if (r.notRunReason.empty()) {
            report("before");
            ReadState(&r, &r.before, "Before");
        }
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
        const rec::SampleTime phyTime = rec::Now();
        AddPhy(r, phy);
        Outcome ethernet = Outcome::Answered; // a lost board: its PHY reads decide
        std::optional<EthernetRead> read;
        if (!m_board.Lost()) {
            read = m_board.RunEthernetPass();
            AddEthernet(r, *read);
            ethernet = read->outcome;
        }
        r->passReads.push_back(ReadsOf(phyTime, phy, read ? &*read : nullptr));
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
