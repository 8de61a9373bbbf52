#pragma once

// The "--name value" command lines of the benchmark programs.

#include <functional>
#include <map>
#include <string>

namespace tessor::bench {

// Hands each option's value to the setter named by the option. False (the program then prints its usage
// and ends with 2) for an option with no setter or without its value.
inline bool ParseOptions(int argc, char** argv,
                         const std::map<std::string, std::function<void(const char*)>>& setters) {
    for (int i = 1; i < argc; ++i) {
        const auto setter = setters.find(argv[i]);
        if (setter == setters.end() || i + 1 >= argc)
            return false;
        setter->second(argv[++i]);
    }
    return true;
}

} // namespace tessor::bench
