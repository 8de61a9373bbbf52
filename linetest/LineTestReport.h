#pragma once

// The line test's report: one self-contained HTML file (inline SVG graphs, print-friendly CSS, nothing
// external), and the graphs as plain geometry so that a window can paint the same graphs for a PDF.

#include "linetest/LineTest.h"

#include <string>
#include <utility>
#include <vector>

namespace tessor::linetest {

// A graph in plot coordinates: x and y from 0 (left, bottom) to 1 (right, top).
struct ReportGraph {
    std::string title;
    std::string unit;
    struct Line {
        std::string name;
        std::string color;                                        // "#1f77b4"
        std::vector<std::vector<std::pair<double, double>>> runs; // a gap separates runs
    };
    std::vector<Line> lines;
    std::vector<std::pair<double, std::string>> yTicks; // position, label
    std::vector<std::pair<double, std::string>> xTicks;
    std::vector<double> drops; // x of the passes that found the line down
    bool empty = true;         // nothing was measured
};
std::vector<ReportGraph> ReportGraphs(const LineTestResult& result);

struct ReportOptions {
    // For a renderer with a smaller HTML subset that draws the graphs itself (the window's PDF): graphs as
    // <img src="graphN.png"> instead of inline SVG, tables with the width and borders as attributes.
    bool textDocument = false;
};
std::string ReportHtml(const LineTestResult& result, const ReportOptions& options = {});

// Text made safe for HTML element content and attribute values; invalid UTF-8 and control characters
// are replaced.
std::string EscapeHtml(const std::string& text);

// The size the SVG graphs are drawn at, in CSS pixels.
inline constexpr int kGraphWidth = 720;
inline constexpr int kGraphHeight = 200;

} // namespace tessor::linetest
