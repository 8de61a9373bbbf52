// Feeds arbitrary bytes to the configuration file reader: it must stop at the end of the bytes, give
// no record after an error, and name only well-formed target addresses.
#include "model/ConfigFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t side = data[0] % 3;
    tessor::ConfigFileReader reader(std::string(reinterpret_cast<const char*>(data + 1), size - 1), side);
    bool finished = false;
    for (int steps = 0; steps < 1000; ++steps) {
        const tessor::ConfigFileStep step = reader.Next();
        if (reader.Position() > size - 1)
            std::abort();
        if (step.kind == tessor::ConfigFileStep::Kind::Record) {
            if (finished || step.address.size() != 4)
                std::abort();
            continue;
        }
        if (step.kind == tessor::ConfigFileStep::Kind::Error && step.message.empty())
            std::abort();
        if (finished)
            break;
        finished = true;
    }
    return 0;
}
