#pragma once

// Validators of the command line shared by the subcommands.

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <string>

namespace tessor::cli {

// A finite number from lo to hi (CLI::Range lets "nan" through, and "inf" where hi is unbounded).
inline CLI::Validator FiniteRange(double lo, double hi) {
    const std::string range = CLI::detail::to_string(lo) + " to " + CLI::detail::to_string(hi);
    return CLI::Validator(
        [lo, hi, range](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !std::isfinite(value) || value < lo || value > hi)
                return "a number from " + range;
            return std::string();
        },
        "NUMBER in [" + range + "]", "finite range");
}

// "15m", "90s", "1h", "500ms" or plain seconds, at least minMs and at most a week; passed on as
// milliseconds.
inline CLI::Validator DurationValidator(long long minMs) {
    return CLI::Validator(
        [minMs](std::string& text) {
            std::size_t used = 0;
            double value = 0;
            try {
                value = std::stod(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            const std::string unit = text.substr(used);
            const double scale = unit == "ms"                   ? 1
                                 : unit == "" || unit == "s"    ? 1000
                                 : unit == "m" || unit == "min" ? 60000
                                 : unit == "h"                  ? 3600000
                                                                : -1;
            const double ms = value * scale;
            if (used == 0 || scale < 0 || !std::isfinite(ms) || ms < static_cast<double>(minMs) ||
                ms > 7 * 24 * 3600000.0)
                return std::string("a duration is a number with s, m, h or ms, such as 15m");
            text = std::to_string(static_cast<long long>(ms));
            return std::string();
        },
        "DURATION", "duration");
}

// A line test threshold: a finite number its criterion accepts (CLI::Range lets "nan" through).
inline CLI::Validator LimitValidator(bool (*accepted)(double), const std::string& range) {
    return CLI::Validator(
        [accepted, range](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !accepted(value))
                return "a number from " + range;
            return std::string();
        },
        "NUMBER", "line test threshold");
}

} // namespace tessor::cli
