// The benchmarks read the monitor's JSON lines as the tools do: a value the monitor did not know is
// unknown, never false or 0, and never ends the benchmark.
#include "bench/MonitorLine.h"

#include <gtest/gtest.h>

namespace tessor::bench {
namespace {

TEST(BenchMonitorLine, UnknownValuesAreReadAsUnknown) {
    struct Case {
        const char* line;
        bool pass;
        std::optional<double> ms;
        std::optional<bool> lineUp;
    };
    const Case cases[] = {
        {R"({"port":"/dev/a","poll_duration_seconds":0.25,"line_up":true})", true, 250.0, true},
        {R"({"port":"/dev/a","poll_duration_seconds":0.25,"line_up":false})", true, 250.0, false},
        {R"({"port":"/dev/a","poll_duration_seconds":1.5,"line_up":null})", true, 1500.0, std::nullopt},
        {R"({"port":"/dev/a","poll_duration_seconds":null,"line_up":true})", true, std::nullopt, true},
        {R"({"port":"/dev/a"})", true, std::nullopt, std::nullopt},
        {R"({"port":null,"line_up":true})", false, std::nullopt, std::nullopt},
        {R"({"port":"/dev/a","line_up)", false, std::nullopt, std::nullopt},
        {"[1,2]", false, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        std::optional<MonitorLinePass> pass;
        ASSERT_NO_THROW(pass = ParseMonitorLine(c.line)) << c.line;
        ASSERT_EQ(pass.has_value(), c.pass) << c.line;
        if (!pass)
            continue;
        EXPECT_EQ(pass->port, "/dev/a") << c.line;
        EXPECT_EQ(pass->ms, c.ms) << c.line;
        EXPECT_EQ(pass->lineUp, c.lineUp) << c.line;
    }
}

} // namespace
} // namespace tessor::bench
