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

} // namespace tessor::cli
