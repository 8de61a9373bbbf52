#include "monitor/Monitor.h"

#include <algorithm>

namespace tessor::monitor {

namespace {

using Clock = std::chrono::steady_clock;

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

CMonitor::CMonitor(MonitorOptions options, PassCallback onPass, Log log)
    : m_options(std::move(options)), m_onPass(std::move(onPass)), m_log(std::move(log)),
      m_performance(m_options.intervalRules), m_retry(m_options.firstRetry) {
    m_state.port = m_options.device;
    m_state.site = m_options.site;
    m_state.board = m_options.board;
    m_state.snrBaselineDb = m_options.snrBaselineDb;
    Publish(m_state, false);
}

CMonitor::~CMonitor() {
    DropSession();
}

bool CMonitor::Stopping() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stop;
}

void CMonitor::Stop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
    if (m_session)
        m_session->Interrupt();
    m_cv.notify_all();
}

void CMonitor::Step(bool begin) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (begin)
        m_stepStart = Clock::now();
    else
        m_stepStart.reset();
}

bool CMonitor::WaitUntil(Clock::time_point when) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_until(lock, when, [this] { return m_stop; });
    return !m_stop;
}

std::string CMonitor::Exposition() const {
    std::string health;
    const std::shared_ptr<const std::string> readings = Readings(&health);
    return *readings + health;
}

std::shared_ptr<const std::string> CMonitor::Readings(std::string* health) const {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool stale = m_stepStart && now - *m_stepStart > StaleAfter();
    std::optional<double> age;
    if (m_lastPassEnd)
        age = std::chrono::duration<double>(now - *m_lastPassEnd).count();
    *health = RenderPollHealth(m_published, age, stale);
    return stale ? m_staleExposition : m_exposition;
}

Snapshot CMonitor::Current() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_published;
}

void CMonitor::Publish(const Snapshot& s, bool passCompleted) {
    auto text = std::make_shared<const std::string>(RenderExposition(s));
    Snapshot withoutReadings = s;
    MarkDown(withoutReadings);
    auto staleText = std::make_shared<const std::string>(RenderExposition(withoutReadings));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exposition = std::move(text);
    m_staleExposition = std::move(staleText);
    m_published = s;
    if (passCompleted)
        m_lastPassEnd = Clock::now();
}

Outcome CMonitor::PassConsoleLine(const std::string& line, std::string* reply) {
    std::lock_guard<std::mutex> use(m_sessionUse);
    CBoardSession* session = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        session = m_session.get();
    }
    return session ? session->PassLine(line, reply) : Outcome::NoAnswer;
}

void CMonitor::DropSession() {
    std::unique_ptr<CBoardSession> session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        session = std::move(m_session);
    }
    std::lock_guard<std::mutex> use(m_sessionUse); // a console client's line under way ends first
    session.reset();                               // joins its worker outside the lock
}

bool CMonitor::Connect() {
    std::string error;
    auto session =
        CBoardSession::Open(m_options.device, m_options.answerTimeout, m_log, &error, m_options.opener);
    if (!session) {
        if (!m_openFailing && m_log)
            m_log(m_options.device + ": cannot open (" + error + "); trying again, at most every " +
                  std::to_string(m_options.maxRetry.count() / 1000) + " s");
        m_openFailing = true;
        MarkDown(m_state);
        Publish(m_state, false);
        m_nextOpen = Clock::now() + m_retry;
        m_retry = std::min(m_retry * 2, m_options.maxRetry);
        return false;
    }
    if (m_log)
        m_log(m_options.device + ": opened " + session->ResolvedPath());
    m_openFailing = false;
    m_retry = m_options.firstRetry;
    m_needSettings = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop)
        session->Interrupt();
    m_session = std::move(session);
    return true;
}

void CMonitor::Run() {
    m_nextOpen = Clock::now();
    while (!Stopping()) {
        if (!m_session) {
            if (!WaitUntil(m_nextOpen))
                break;
            Step(true);
            const bool connected = Connect();
            Step(false);
            if (!connected)
                continue;
            m_nextPass = Clock::now();
        }
        if (!WaitUntil(m_nextPass))
            break;
        // A fixed cadence: a late pass does not shift the ones after it, missed ones are skipped.
        m_nextPass += m_options.interval;
        const auto now = Clock::now();
        if (m_nextPass <= now)
            m_nextPass = now + m_options.interval;
        Step(true);
        RunPass();
        Step(false);
    }
    DropSession();
}

void CMonitor::MarkDown(Snapshot& s) {
    s.boardUp = false;
    s.lineUp.reset();
    s.phy = PhyValues{};
    s.rsCorrectedPerSecond.reset();
    s.link = LinkValues{};
    s.haveLink = false;
}

std::optional<double> CMonitor::Count(const PassResults& results, Snapshot& s, Clock::time_point* readAt) {
    // Timed after the PHY reads: the three reads after 8C91 take the same time in every pass, so the time
    // between two of these is the time between the two 8C91 reads.
    const auto at = m_options.readClock ? m_options.readClock() : Clock::now();
    *readAt = at;
    ops::CountPhyPass(results.phy.raw, at, m_rsCorrected, m_linkFailures);
    s.rsCorrectedTotal = m_rsCorrected.Total();
    s.linkFailuresTotal = m_linkFailures.Total();
    return m_rsCorrected.PerSecond();
}

bool CMonitor::ReadSettings(CBoardPasses& passes, Snapshot& s) {
    s.haveLink = false;
    passes.TakeSpoiltSeen();
    Identification id;
    const bool ok = passes.ReadIdentification(id);
    // The side label stays what it was until the board tells otherwise, so its series do not change
    // while the board is away.
    if (id.typeRegister)
        s.id = id;
    if (!ok || !passes.ReadLinkSettings(m_options.crystalHz, s.link))
        return false;
    s.haveLink = true;
    // Settings a spoilt reply left out are read again at the next pass.
    m_needSettings = passes.TakeSpoiltSeen();
    return true;
}

void CMonitor::AddInterval(bool answered, Clock::time_point readAt, Snapshot& s) {
    PassResults& results = s.results;
    PassReads reads;
    reads.monoMs = std::chrono::duration_cast<std::chrono::milliseconds>(readAt.time_since_epoch()).count();
    reads.wallMs = results.at.wallMs;
    reads.answered = answered;
    reads.phy = results.phy.values;
    if (results.ethernetRead) {
        for (std::size_t i = 0; i < reads.ethernet.size(); ++i) {
            if (!(results.ethernet.failedReads & 1u << i))
                reads.ethernet[i] = results.ethernet.reads[i];
        }
    }
    const CLinePerformance::Added added = m_performance.Add(reads);
    results.intervalClass = added.provisional;
    if (added.interval)
        results.intervalIndex = m_intervals++;
    for (const DecidedInterval& d : added.decided) {
        results.decided.emplace_back(d.index, d.value);
        if (d.index == results.intervalIndex)
            results.classFinal = true;
    }
    s.intervals = m_performance.Settled().total;
    const std::optional<std::int64_t> upSince = m_performance.UpSinceWallMs();
    if (upSince)
        s.upSinceUnixSeconds = static_cast<double>(*upSince) / 1000.0;
    else
        s.upSinceUnixSeconds.reset();
}

void CMonitor::RunPass() {
    CBoardSession& session = *m_session;
    CBoardPasses passes(session, m_options.blockReads);
    Snapshot& s = m_state;
    const auto start = Clock::now();
    s.passStartUnixSeconds = UnixNow();
    const std::uint64_t corruptedBefore = session.CorruptedReplies();
    const std::uint64_t timeOutsBefore = session.TimeOuts();

    bool ok = !m_needSettings || ReadSettings(passes, s);
    PassResults& results = s.results;
    results = PassResults{};
    results.phyRead = ok && passes.ReadPhy(s.id.references, results.phy);
    PhyValues& phy = results.phy.values;
    Clock::time_point readAt;
    const std::optional<double> rsPerSecond = Count(results, s, &readAt);
    ok = results.phyRead;
    ops::EthernetPass ethernet;
    results.ethernetRead = ok && passes.ReadEthernet(s.ethernet, &ethernet);
    // A pass in which not one reply was valid tells nothing of the board: it is down, not up without
    // readings.
    const bool nothingValid = results.ethernetRead && !passes.WholePass().BoardAnswered();
    ok = results.ethernetRead && !nothingValid;
    // Only a line known to be down before and known to be up now came up; unknown says nothing.
    const bool cameUp = ok && phy.LineUp() == true && m_lastLineUp == false && s.boardUp;
    if (cameUp) {
        // The line may have trained with other settings: read them again, and neither publish nor record
        // an SNR or MSE computed from the constellation it had before; the next pass has them.
        ok = ReadSettings(passes, s);
        phy.snrCenti.reset();
        phy.mseCenti.reset();
    }

    results.at = rec::Now();
    results.ethernet = rec::MakeEthSample(results.at, ethernet.raw.data(),
                                          static_cast<std::size_t>(ethernet.countersRead), s.ethernet);
    s.passDurationSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    s.passes += 1;
    s.corruptedReplies += session.CorruptedReplies() - corruptedBefore;
    s.timeOuts += session.TimeOuts() - timeOutsBefore;
    if (ok) {
        if (m_everAnswered && m_lostSinceAnswer)
            s.reconnections += 1;
        m_everAnswered = true;
        m_lostSinceAnswer = false;
        s.boardUp = true;
        s.phy = phy;
        s.rsCorrectedPerSecond = rsPerSecond;
        s.lineUp = phy.LineUp();
        if (s.lineUp)
            m_lastLineUp = s.lineUp;
        s.lastGoodPassUnixSeconds = UnixNow();
    } else {
        MarkDown(s);
    }
    AddInterval(ok, readAt, s);
    const bool stopping = Stopping();
    if (!ok && !stopping) {
        m_lostSinceAnswer = true;
        if (m_log)
            m_log(m_options.device +
                  (session.DeviceLost() ? ": device lost; reopening"
                   : nothingValid ? ": every reply was garbled (a wrong speed or framing on the console "
                                    "line?); trying again"
                                  : ": the board does not answer; trying again"));
        // A silent board is tried again at the next interval; a lost device as soon as it may be back.
        m_nextOpen = session.DeviceLost() ? Clock::now() + m_options.firstRetry : m_nextPass;
        DropSession();
    }
    Publish(s, true);
    if (m_onPass && !stopping)
        m_onPass(s);
}

} // namespace tessor::monitor
