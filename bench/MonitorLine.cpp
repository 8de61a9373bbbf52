#include "bench/MonitorLine.h"

#include <nlohmann/json.hpp>

namespace tessor::bench {

std::optional<MonitorLinePass> ParseMonitorLine(const std::string& line) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object() || !j.contains("port") || !j["port"].is_string())
        return std::nullopt;
    MonitorLinePass pass;
    pass.port = j["port"].get<std::string>();
    if (const auto d = j.find("poll_duration_seconds"); d != j.end() && d->is_number())
        pass.ms = d->get<double>() * 1000.0;
    if (const auto up = j.find("line_up"); up != j.end() && up->is_boolean())
        pass.lineUp = up->get<bool>();
    return pass;
}

} // namespace tessor::bench
