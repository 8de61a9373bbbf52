#pragma once

// What a campaign writes: one JSON line per board as it finishes, and at the end, on request, a JUnit XML
// file (a test suite per site, a test case per board), a CSV file and one HTML page.

#include "fleet/Campaign.h"

#include <string>
#include <vector>

namespace tessor::fleet {

// The board's JSON line (without the line end).
std::string ResultLine(const BoardResult& result);

// JUnit XML: <testsuites> with a <testsuite> per site (in the order the sites first finished) and a
// <testcase> per board; a board that differs or failed has a <failure>, one that could not be run (the
// link's words, port_busy, deadline) an <error>, each with the outcome as its type, the message as its
// message and the port, the message and the findings as its text.
std::string JUnitText(const std::vector<BoardResult>& results);

// CSV (RFC 4180): a header, then a row per board: board, site, port, command, outcome, exit code, duration,
// message.
std::string CsvText(const std::vector<BoardResult>& results);

// One self-contained HTML page: the counts of each outcome and a table of every board with its message,
// its findings and a link to its report. The links are relative to pageFolder, the folder the page is
// written in, when the report is below it.
std::string HtmlText(const std::vector<BoardResult>& results, const std::string& title,
                     const std::string& pageFolder = std::string());

} // namespace tessor::fleet
