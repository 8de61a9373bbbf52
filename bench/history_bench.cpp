// tessor-bench-history: a week of line samples (one PHY and one Ethernet pass every 5 s) through the
// recorder, its recording file and the Line History window. Prints the figures with their targets.
#include "bench/Measure.h"
#include "history/HistoryGraph.h"
#include "history/HistoryWindow.h"
#include "recorder/LineRecorder.h"
#include "recorder/RecordingFile.h"

#include <QApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWeekSamples = 7 * 24 * 3600 / 5; // 120,960
constexpr std::int64_t kStartMs = 1796000000000;
constexpr double kMemoryTargetMiB = 40;
constexpr double kRedrawTargetMs = 50;
constexpr double kAppendTargetUs = 50;
constexpr double kOpenTargetMs = 1000;
constexpr double kExportTargetMs = 1000;
constexpr double kPollWaitTargetMs = 1;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of this thread in ms: on a shared machine the wall time also holds the other users' share.
double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double LoadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = 0;
    in >> load;
    return load;
}

const char* Verdict(bool met) {
    return met ? "met" : "missed";
}

long ResidentKiB() {
    return tessor::bench::StatusKb(getpid(), "VmRSS");
}

// A week of a living line: drifting SNR, RS bursts, a few drops (line down for a few passes), counters.
struct WeekSource {
    std::mt19937 random{0x7E55};
    double drift = 0;
    int downLeft = 0;
    int burstLeft = 0;
    int linkFails = 0;
    std::array<std::uint64_t, tessor::kCounterDefCount> totals{};

    tessor::rec::PhySample Phy(tessor::rec::SampleTime t) {
        std::normal_distribution<double> normal(0, 1);
        std::uniform_real_distribution<double> unit(0, 1);
        drift += -drift / 360 + 0.1 * normal(random);
        if (downLeft == 0 && unit(random) < 1.0 / 20000) {
            downLeft = 3 + static_cast<int>(unit(random) * 20);
            ++linkFails;
        }
        if (burstLeft == 0 && unit(random) < 1.0 / 2000)
            burstLeft = 2 + static_cast<int>(unit(random) * 10);
        const bool up = downLeft == 0;
        if (downLeft > 0)
            --downLeft;
        const double snr = 36.5 + drift;
        tessor::PhyRegisters raw;
        raw.errorValue = up ? static_cast<std::uint32_t>(std::pow(10.0, (91.8 - snr) / 10)) : 0;
        raw.txLevel = 576;
        raw.rsCorrected = up ? (burstLeft-- > 0 ? 2000 : 15) : 0;
        raw.linkStatus = up ? 0xAE : 0x02;
        raw.lineFlags = up ? 0x06 : 0x84;
        raw.linkFailCount = static_cast<std::uint32_t>(linkFails & 0xFF);
        return tessor::rec::MakePhySample(t, tessor::DecodePhy(raw, tessor::LineReferences{9180, 6920}),
                                          true);
    }

    tessor::rec::EthSample Eth(tessor::rec::SampleTime t) {
        tessor::rec::EthSample s;
        s.time = t;
        for (std::size_t i = 0; i < s.reads.size(); ++i) {
            s.reads[i] = static_cast<std::uint32_t>(i < 7 ? 5 * 4250 * (i + 1) : 0);
            totals[i] += s.reads[i]; // the recording's totals are sums of the raw counts
        }
        s.totals = totals;
        return s;
    }
};

// A copy of a recording in which every 100th row is cut in half, as a full disk or a crash leaves rows.
std::size_t CopyWithDamage(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    std::size_t line = 0;
    std::size_t damaged = 0;
    for (std::string row; std::getline(in, row); ++line) {
        if (line > 0 && line % 100 == 0) {
            row.resize(row.size() / 2);
            ++damaged;
        }
        out << row << '\n';
    }
    return damaged;
}

struct Redraw {
    double cpuMs = 0;  // median CPU time of the UI thread for a refresh and a paint
    double wallMs = 0; // the same in wall time
    std::size_t drawn = 0;
    int columns = 0;
    std::int64_t fromMs = 0;
    std::int64_t toMs = 0;
};

// Full redraws of the window with the whole record in view; BENCH_PNG=dir also saves its graphs.
Redraw MeasureRedraw(const std::shared_ptr<tessor::rec::CLineRecorder>& recorder, const char* name) {
    tessor::CHistoryWindow window(recorder);
    window.resize(1180, 820);
    window.show();
    QApplication::processEvents();
    window.ShowWhole();
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < 7; ++i) {
        QApplication::processEvents();
        const auto t0 = Clock::now();
        const double c0 = ThreadCpuMs();
        window.Refresh(true);
        window.repaint(); // the graphs painted, not only their data replaced
        wall.push_back(MsSince(t0));
        cpu.push_back(ThreadCpuMs() - c0);
    }
    Redraw r{tessor::bench::MedianOf(cpu),
             tessor::bench::MedianOf(wall),
             0,
             0,
             window.ViewFromMs(),
             window.ViewToMs()};
    for (tessor::CHistoryGraph* graph : window.Graphs()) {
        r.drawn += graph->DrawnColumns();
        r.columns = graph->Columns();
    }
    if (const char* dir = std::getenv("BENCH_PNG"))
        window.ExportPng(QString::fromLocal8Bit(dir) +
                         QStringLiteral("/bench-%1.png").arg(QLatin1String(name)));
    return r;
}

struct PollWaits {
    double redrawingMaxMs = 0;
    double redrawingP999Ms = 0;
    double redrawingP99Ms = 0;
    double idleMaxMs = 0;
    double idleP999Ms = 0;
    std::size_t adds = 0;
    int redraws = 0;
};

// A poll thread adds a PHY sample every millisecond (a pass lasts far longer) and times each add, first
// while the window redraws the whole record in a loop, then with the window idle.
PollWaits MeasurePollWaits(const std::shared_ptr<tessor::rec::CLineRecorder>& recorder,
                           std::int64_t afterMs) {
    tessor::CHistoryWindow window(recorder);
    window.resize(1180, 820);
    window.show();
    QApplication::processEvents();
    WeekSource source;
    std::atomic<bool> stop{false};
    std::vector<double> waits;
    std::int64_t next = 0;
    auto poll = [&] {
        while (!stop.load()) {
            const tessor::rec::PhySample s =
                source.Phy(tessor::rec::SampleTime{afterMs + next * 5000, afterMs - kStartMs + next * 5000});
            ++next;
            const auto t0 = Clock::now();
            recorder->AddPhy(s);
            waits.push_back(MsSince(t0));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    PollWaits out;
    std::thread redrawing(poll);
    const auto until = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < until) {
        window.Refresh(true);
        window.repaint();
        ++out.redraws;
    }
    stop.store(true);
    redrawing.join();
    out.adds = waits.size();
    std::sort(waits.begin(), waits.end());
    out.redrawingMaxMs = waits.back();
    out.redrawingP999Ms = waits[waits.size() * 999 / 1000];
    out.redrawingP99Ms = waits[waits.size() * 99 / 100];
    waits.clear();
    stop.store(false);
    std::thread idle(poll);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    stop.store(true);
    idle.join();
    std::sort(waits.begin(), waits.end());
    out.idleMaxMs = waits.back();
    out.idleP999Ms = waits[waits.size() * 999 / 1000];
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    const std::string recording = dir + "/tessor-bench-week.csv";
    const std::string exported = dir + "/tessor-bench-week-export.csv";
    std::remove(recording.c_str());

    std::printf("Line History benchmark: a week at one PHY and one Ethernet pass every 5 s (%d of each)\n",
                kWeekSamples);
    const long rss0 = ResidentKiB();
    auto recorder = std::make_shared<tessor::rec::CLineRecorder>();
    std::string error;
    if (!recorder->StartRecording(recording, &error)) {
        std::fprintf(stderr, "tessor-bench-history: %s\n", error.c_str());
        return 1;
    }
    WeekSource source;
    const std::int64_t start = kStartMs;
    std::vector<double> appendUs;
    appendUs.reserve(2 * kWeekSamples);
    for (int i = 0; i < kWeekSamples; ++i) {
        const tessor::rec::SampleTime t{start + i * 5000LL, i * 5000LL};
        const tessor::rec::PhySample phy = source.Phy(t);
        auto t0 = Clock::now();
        recorder->AddPhy(phy);
        appendUs.push_back(MsSince(t0) * 1000);
        const tessor::rec::EthSample eth =
            source.Eth(tessor::rec::SampleTime{t.wallMs + 2000, t.monoMs + 2000});
        t0 = Clock::now();
        recorder->AddEth(eth);
        appendUs.push_back(MsSince(t0) * 1000);
    }
    recorder->StopRecording();
    const double recorderMiB = static_cast<double>(recorder->BytesUsed()) / (1024.0 * 1024.0);
    const double rssMiB = static_cast<double>(ResidentKiB() - rss0) / 1024.0;
    std::sort(appendUs.begin(), appendUs.end());
    double meanUs = 0;
    for (double us : appendUs)
        meanUs += us;
    meanUs /= static_cast<double>(appendUs.size());
    const double p99Us = appendUs[appendUs.size() * 99 / 100];
    const double maxUs = appendUs.back();
    std::size_t events = 0;
    recorder->Read([&](const tessor::rec::LineStore& store) { events = store.events.size(); });

    auto t0 = Clock::now();
    double c0 = ThreadCpuMs();
    tessor::rec::CLineRecorder reopened;
    const bool opened = reopened.Load(recording, &error);
    const double openMs = MsSince(t0);
    const double openCpuMs = ThreadCpuMs() - c0;
    t0 = Clock::now();
    c0 = ThreadCpuMs();
    const bool exportedOk = recorder->ExportCsv(exported, &error);
    const double exportMs = MsSince(t0);
    const double exportCpuMs = ThreadCpuMs() - c0;
    const std::string damaged = dir + "/tessor-bench-week-damaged.csv";
    const std::size_t damagedRows = CopyWithDamage(recording, damaged);
    t0 = Clock::now();
    c0 = ThreadCpuMs();
    tessor::rec::CLineRecorder damagedOpened;
    const bool openedDamaged = damagedOpened.Load(damaged, &error);
    const double openDamagedMs = MsSince(t0);
    const double openDamagedCpuMs = ThreadCpuMs() - c0;
    std::size_t skipped = 0;
    damagedOpened.Read([&](const tessor::rec::LineStore& store) { skipped = store.skippedRows; });
    std::remove(damaged.c_str());
    std::ifstream sizeProbe(recording, std::ios::ate | std::ios::binary);
    const double fileMiB = static_cast<double>(sizeProbe.tellg()) / (1024.0 * 1024.0);

    const Redraw week = MeasureRedraw(recorder, "week");
    if (std::getenv("BENCH_DETAIL")) {
        recorder->Read([&](const tessor::rec::LineStore& store) {
            auto d0 = Clock::now();
            for (int k = 0; k < static_cast<int>(tessor::rec::Series::kCount); ++k)
                tessor::rec::Decimate(store, static_cast<tessor::rec::Series>(k), week.fromMs, week.toMs,
                                      week.columns);
            std::printf("  decimation alone %.2f ms\n", MsSince(d0));
        });
    }

    // The same week on a flapping line: every other PHY pass unanswered, so every sample stands alone.
    auto flapping = std::make_shared<tessor::rec::CLineRecorder>();
    WeekSource flappingSource;
    for (int i = 0; i < kWeekSamples; ++i) {
        const tessor::rec::SampleTime t{start + i * 5000LL, i * 5000LL};
        tessor::rec::PhySample phy = flappingSource.Phy(t);
        if (i % 2 == 1)
            phy = tessor::rec::MakePhySample(t, tessor::PhyValues{}, false);
        flapping->AddPhy(phy);
        flapping->AddEth(flappingSource.Eth(tessor::rec::SampleTime{t.wallMs + 2000, t.monoMs + 2000}));
    }
    const Redraw flap = MeasureRedraw(flapping, "flapping");
    const PollWaits waits = MeasurePollWaits(flapping, start + kWeekSamples * 5000LL);

    std::printf("  %-52s %12s  %s\n", "figure", "value", "target");
    std::printf("  %-52s %8.1f MiB  <=%.0f MiB %s\n", "recorder memory, the week in memory", recorderMiB,
                kMemoryTargetMiB, Verdict(recorderMiB <= kMemoryTargetMiB));
    std::printf("  %-52s %8.1f MiB\n", "process resident growth while recording it", rssMiB);
    std::printf("  %-52s %9.2f us  <=%.0f us %s\n", "append one sample (mean, recording to a file)", meanUs,
                kAppendTargetUs, Verdict(meanUs <= kAppendTargetUs));
    std::printf("  %-52s %9.2f us  (max %.0f us)\n", "append one sample (99th percentile)", p99Us, maxUs);
    std::printf("  %-52s %9.1f ms  <=%.0f ms %s (wall %.1f ms)\n",
                "full redraw, all graphs, the week in view (median of 7)", week.cpuMs, kRedrawTargetMs,
                Verdict(week.cpuMs <= kRedrawTargetMs), week.wallMs);
    std::printf("  %-52s %12zu  (%d columns a graph)\n", "columns with data in that redraw", week.drawn,
                week.columns);
    std::printf("  %-52s %9.1f ms  <=%.0f ms %s (wall %.1f ms)\n",
                "full redraw, flapping week (every other PHY pass lost)", flap.cpuMs, kRedrawTargetMs,
                Verdict(flap.cpuMs <= kRedrawTargetMs), flap.wallMs);
    std::printf("  %-52s %9.3f ms  <=%.0f ms %s (%zu adds, %d redraws)\n",
                "longest AddPhy wait while the window redraws", waits.redrawingMaxMs, kPollWaitTargetMs,
                Verdict(waits.redrawingMaxMs <= kPollWaitTargetMs), waits.adds, waits.redraws);
    std::printf("  %-52s %9.3f ms  (99th percentile %.3f ms)\n",
                "AddPhy wait while redrawing, 99.9th percentile", waits.redrawingP999Ms,
                waits.redrawingP99Ms);
    std::printf("  %-52s %9.3f ms  (99.9th percentile %.3f ms)\n", "longest AddPhy wait, window idle",
                waits.idleMaxMs, waits.idleP999Ms);
    std::printf("  %-52s %9.1f ms  <=%.0f ms %s (wall %.1f ms)\n", "open the 7-day recording file", openCpuMs,
                kOpenTargetMs, Verdict(opened && openCpuMs <= kOpenTargetMs), openMs);
    std::printf("  %-52s %9.1f ms  <=%.0f ms %s (wall %.1f ms)\n", "open it with 1% of its rows damaged",
                openDamagedCpuMs, kOpenTargetMs,
                Verdict(openedDamaged && skipped == damagedRows && openDamagedCpuMs <= kOpenTargetMs),
                openDamagedMs);
    std::printf("  %-52s %12zu  (of %zu damaged)\n", "damaged rows skipped", skipped, damagedRows);
    std::printf("  %-52s %9.1f ms  <=%.0f ms %s (wall %.1f ms)\n", "CSV export of the week", exportCpuMs,
                kExportTargetMs, Verdict(exportedOk && exportCpuMs <= kExportTargetMs), exportMs);
    std::printf("  times are CPU time of the measuring thread; load average during the run %.1f on %u CPUs\n",
                LoadAverage(), std::thread::hardware_concurrency());
    std::printf("  recording file %.1f MiB, %d PHY + %d Ethernet rows, %zu events\n", fileMiB, kWeekSamples,
                kWeekSamples, events);
    std::remove(recording.c_str());
    std::remove(exported.c_str());
    return 0;
}
