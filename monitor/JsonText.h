#pragma once

// The text of every JSON document the tool writes (tessor-cli's documents, the monitor's JSON lines).
// Header-only, so that tessor-cli also takes it on systems without the monitor. Text that is not UTF-8
// (a device or file name in another encoding, a site name typed so) has its bad bytes replaced by U+FFFD:
// the document stays valid, and writing it never ends the program.

#include <nlohmann/json.hpp>

#include <string>

namespace tessor {

// indent -1: one line; else pretty-printed with that many blanks.
inline std::string JsonText(const nlohmann::json& document, int indent = -1) {
    return document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The text with its bytes that are not UTF-8 replaced by U+FFFD exactly as in the JSON documents, for
// other outputs that must be UTF-8 (a label value of the OpenMetrics export).
inline std::string Utf8Text(const std::string& text) {
    return nlohmann::json::parse(JsonText(nlohmann::json(text))).get<std::string>();
}

} // namespace tessor
