#include "linetest/LineTestTexts.h"

#include "linetest/Figures.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace tessor::linetest {

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

} // namespace tessor::linetest
