// The configurator as a person would start it, with the benchmark in the person's place: the
// "Initialize Hardware" dialog is shown and accepted at once, the sheet is shown, and then (with
// --rest-seconds N > 0) the PHY page runs for N seconds and the Ethernet counters run for N seconds
// while the process's CPU time and resident memory are measured. Figures go to standard output as
// "name value" lines; times are from --t0-ns, the monotonic clock read by the parent just before it
// started this process.

#include "app/ConfiguratorApp.h"
#include "app/InitHardwareDlg.h"
#include "app/MainSheet.h"
#include "bench/Measure.h"
#include "bench/Process.h"
#include "history/LineHistory.h"
#include "pages/PageEthernetStatus.h"
#include "pages/PagePhyStatus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using tessor::bench::MonotonicNs;

long long g_t0Ns = 0;

double MsSinceStart() {
    return static_cast<double>(MonotonicNs() - g_t0Ns) / 1e6;
}

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// A field of this process's /proc status in KiB ("VmRSS", "VmHWM").
long StatusKiB(const char* field) {
    return tessor::bench::StatusKb(getpid(), field);
}

// Notes the first paint of a window.
class FirstPaint : public QObject {
public:
    bool painted = false;
    double atMs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!painted && event->type() == QEvent::Paint) {
            painted = true;
            atMs = MsSinceStart();
        }
        return QObject::eventFilter(watched, event);
    }
};

// Runs the event loop until the window has been painted (at most limitMs).
void WaitForPaint(const FirstPaint& paint, int limitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!paint.painted && timer.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

void Report(const char* name, double value) {
    std::printf("%s %.3f\n", name, value);
}

// Runs the event loop for the given time and reports CPU time, wall time and the largest resident size
// seen (sampled every second) under the given prefix.
void MeasureAtRest(const std::string& prefix, int seconds) {
    long maxRss = StatusKiB("VmRSS");
    QEventLoop loop;
    QTimer sampler;
    sampler.setInterval(1000);
    QObject::connect(&sampler, &QTimer::timeout, [&maxRss] {
        const long rss = StatusKiB("VmRSS");
        if (rss > maxRss)
            maxRss = rss;
    });
    const double cpu0 = CpuMs();
    const long long wall0 = MonotonicNs();
    sampler.start();
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    sampler.stop();
    const double cpu = CpuMs() - cpu0;
    const double wall = static_cast<double>(MonotonicNs() - wall0) / 1e6;
    const long rss = StatusKiB("VmRSS");
    if (rss > maxRss)
        maxRss = rss;
    Report((prefix + ".cpu_ms").c_str(), cpu);
    Report((prefix + ".wall_ms").c_str(), wall);
    Report((prefix + ".rss_kib").c_str(), static_cast<double>(maxRss));
}

} // namespace

int main(int argc, char** argv) {
    int restSeconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--t0-ns") == 0 && i + 1 < argc)
            g_t0Ns = std::strtoll(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--rest-seconds") == 0 && i + 1 < argc)
            restSeconds = std::atoi(argv[++i]);
    }
    if (g_t0Ns == 0)
        g_t0Ns = MonotonicNs();
    Report("startup.main_ms", MsSinceStart());

    QApplication application(argc, argv);
    tessor::CConfiguratorApp app;
    FirstPaint sheetPaint;

    app.prepareSheet = [&sheetPaint](tessor::CMainSheet& sheet) {
        sheet.installEventFilter(&sheetPaint);
        // Only the end of the run is quicker; the start and the measured time are unchanged.
        sheet.SetClosePauseMs(0);
    };
    app.runDialog = [](tessor::CInitHardwareDlg& dialog) {
        FirstPaint paint;
        dialog.installEventFilter(&paint);
        dialog.show();
        WaitForPaint(paint, 3000);
        dialog.removeEventFilter(&paint);
        Report("startup.dialog_ms", paint.painted ? paint.atMs : MsSinceStart());
        dialog.accept(); // the OK button
        return dialog.result();
    };
    app.runSheet = [&sheetPaint, restSeconds](tessor::CMainSheet& sheet) {
        sheet.show();
        WaitForPaint(sheetPaint, 3000);
        Report("startup.sheet_ms", sheetPaint.painted ? sheetPaint.atMs : MsSinceStart());
        Report("startup.painted", sheetPaint.painted ? 1 : 0);
        std::fflush(stdout);
        if (restSeconds <= 0)
            return 0;

        // The PHY page, as when its tab is chosen: it reads and shows every 5 seconds.
        sheet.ShowPage(2);
        MeasureAtRest("rest.phy", restSeconds);
        Report("rest.phy.passes", static_cast<double>(sheet.PagePhyStatus()->PassCount()));

        // The Ethernet page with its counters started (its Start button).
        sheet.ShowPage(3);
        sheet.PageEthernetStatus()->OnStartStop();
        MeasureAtRest("rest.eth", restSeconds);
        Report("rest.eth.passes", static_cast<double>(sheet.PageEthernetStatus()->PassCount()));

        // The Line History window open over the counting Ethernet page, recording in the background and
        // to a file.
        const std::uint64_t phyBefore = sheet.PagePhyStatus()->PassCount();
        const std::string recording = "/tmp/tessor-bench-history-" + std::to_string(getpid()) + ".csv";
        sheet.OnLineHistory();
        sheet.History()->SetBackgroundRecording(true);
        std::string error;
        sheet.History()->Recorder()->StartRecording(recording, &error);
        MeasureAtRest("rest.history", restSeconds);
        Report("rest.history.passes", static_cast<double>(sheet.PagePhyStatus()->PassCount() - phyBefore));
        sheet.History()->Recorder()->StopRecording();
        std::remove(recording.c_str());
        Report("rest.hwm_kib", static_cast<double>(StatusKiB("VmHWM")));
        std::fflush(stdout);
        return 0;
    };
    const int status = app.Run();
    std::fflush(stdout);
    return status;
}
