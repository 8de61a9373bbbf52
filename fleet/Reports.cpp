#include "fleet/Reports.h"

#include "linetest/LineTestReport.h"
#include "model/PublishedNames.h"
#include "monitor/JsonText.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <map>
#include <sstream>

namespace tessor::fleet {

namespace {

// Text for HTML and XML: the markup characters as entities, bytes that are not UTF-8 as U+FFFD, control
// characters (not allowed in XML 1.0) as blanks.
std::string Escaped(const std::string& text) {
    return linetest::EscapeHtml(text);
}

std::string Seconds(double seconds) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(3) << seconds;
    return text.str();
}

// The sites in the order their first board finished, each with its boards.
std::vector<std::pair<std::string, std::vector<const BoardResult*>>>
BySite(const std::vector<BoardResult>& results) {
    std::vector<std::pair<std::string, std::vector<const BoardResult*>>> sites;
    std::map<std::string, std::size_t> where;
    for (const BoardResult& r : results) {
        const auto found = where.find(r.site);
        if (found == where.end()) {
            where[r.site] = sites.size();
            sites.push_back({r.site, {&r}});
        } else {
            sites[found->second].second.push_back(&r);
        }
    }
    return sites;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// The findings as a list under the message; nothing when there are none.
std::string FindingsList(const std::vector<std::string>& findings) {
    if (findings.empty())
        return std::string();
    std::string list = "<ul>";
    for (const std::string& finding : findings)
        list += "<li>" + Escaped(finding) + "</li>";
    return list + "</ul>";
}

// A link to a board's report: relative to the page's folder when the report lies below it, so that the
// page and the reports can be moved together; else the path as it is.
std::string ReportLink(const std::string& report, const std::string& pageFolder) {
    if (report.empty())
        return std::string();
    namespace fs = std::filesystem;
    std::error_code error;
    std::string href = report;
    if (!pageFolder.empty()) {
        const fs::path from = fs::absolute(pageFolder, error).lexically_normal();
        const fs::path to = fs::absolute(report, error).lexically_normal();
        const fs::path relative = to.lexically_relative(from);
        if (!error && !relative.empty() && *relative.begin() != "..")
            href = relative.generic_string();
    }
    std::string encoded;
    for (const char c : href) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::strchr("/._-~", c) != nullptr) {
            encoded += c;
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return "<a href=\"" + Escaped(encoded) + "\">" + Escaped(fs::path(report).filename().string()) + "</a>";
}

} // namespace

std::string ResultLine(const BoardResult& r) {
    nlohmann::json line{
        {NameOf(Published::kBoard), r.board},
        {NameOf(Published::kSite), r.site},
        {NameOf(Published::kPort), r.port},
        {NameOf(Published::kCommand), r.command},
        {NameOf(Published::kOutcome), r.outcome},
        {NameOf(Published::kExitCode), r.exitCode},
        {NameOf(Published::kDurationSeconds), std::round(r.durationSeconds * 1000.0) / 1000.0},
        {NameOf(Published::kMessage),
         r.message.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.message)},
        {NameOf(Published::kDetails), r.details}};
    return JsonText(line);
}

std::string JUnitText(const std::vector<BoardResult>& results) {
    std::ostringstream xml;
    int failures = 0;
    int errors = 0;
    double time = 0;
    for (const BoardResult& r : results) {
        failures += IsVerdictFailure(r) ? 1 : 0;
        errors += !Succeeded(r) && !IsVerdictFailure(r) ? 1 : 0;
        time += r.durationSeconds;
    }
    const std::string command = results.empty() ? std::string("fleet") : results.front().command;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<testsuites name=\"" << Escaped("tessor-cli fleet " + command) << "\" tests=\"" << results.size()
        << "\" failures=\"" << failures << "\" errors=\"" << errors << "\" time=\"" << Seconds(time)
        << "\">\n";
    for (const auto& [site, boards] : BySite(results)) {
        int siteFailures = 0;
        int siteErrors = 0;
        double siteTime = 0;
        for (const BoardResult* r : boards) {
            siteFailures += IsVerdictFailure(*r) ? 1 : 0;
            siteErrors += !Succeeded(*r) && !IsVerdictFailure(*r) ? 1 : 0;
            siteTime += r->durationSeconds;
        }
        xml << "  <testsuite name=\"" << Escaped(site) << "\" tests=\"" << boards.size() << "\" failures=\""
            << siteFailures << "\" errors=\"" << siteErrors << "\" skipped=\"0\" time=\"" << Seconds(siteTime)
            << "\">\n";
        for (const BoardResult* r : boards) {
            xml << "    <testcase name=\"" << Escaped(r->board) << "\" classname=\""
                << Escaped(site + "." + r->command) << "\" time=\"" << Seconds(r->durationSeconds) << "\"";
            if (Succeeded(*r)) {
                xml << "/>\n";
                continue;
            }
            const char* element = IsVerdictFailure(*r) ? "failure" : "error";
            std::string text = r->port + ": " + r->message;
            for (const std::string& finding : r->findings)
                text += "\n" + finding;
            xml << ">\n      <" << element << " type=\"" << Escaped(r->outcome) << "\" message=\""
                << Escaped(r->message) << "\">" << Escaped(text) << "</" << element << ">\n    </testcase>\n";
        }
        xml << "  </testsuite>\n";
    }
    xml << "</testsuites>\n";
    return xml.str();
}

std::string CsvText(const std::vector<BoardResult>& results) {
    std::string csv = "board,site,port,command,outcome,exit_code,duration_seconds,message\r\n";
    for (const BoardResult& r : results) {
        csv += CsvField(r.board) + "," + CsvField(r.site) + "," + CsvField(r.port) + "," +
               CsvField(r.command) + "," + CsvField(r.outcome) + "," + std::to_string(r.exitCode) + "," +
               Seconds(r.durationSeconds) + "," + CsvField(r.message) + "\r\n";
    }
    return csv;
}

std::string HtmlText(const std::vector<BoardResult>& results, const std::string& title,
                     const std::string& pageFolder) {
    std::map<std::string, int> counts;
    for (const BoardResult& r : results)
        ++counts[r.outcome];
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" << Escaped(title)
         << "</title>\n<style>\nbody{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}"
            "td,th{border:1px solid #999;padding:.2em .6em;text-align:left}.ok{background:#dfd}"
            ".differs,.failed{background:#fdd}.other{background:#fed}\n</style>\n</head>\n<body>\n<h1>"
         << Escaped(title) << "</h1>\n<p>" << results.size() << " boards:";
    for (const auto& [outcome, count] : counts)
        html << " " << Escaped(outcome) << " " << count << ";";
    html << "</p>\n<table>\n<tr><th>Site</th><th>Board</th><th>Port</th><th>Outcome</th><th>Exit code</th>"
            "<th>Seconds</th><th>Message</th><th>Report</th></tr>\n";
    for (const auto& [site, boards] : BySite(results)) {
        for (const BoardResult* r : boards) {
            const std::string kind = Succeeded(*r)          ? "ok"
                                     : IsVerdictFailure(*r) ? r->outcome
                                                            : std::string("other");
            html << "<tr class=\"" << kind << "\"><td>" << Escaped(site) << "</td><td>" << Escaped(r->board)
                 << "</td><td>" << Escaped(r->port) << "</td><td>" << Escaped(r->outcome) << "</td><td>"
                 << r->exitCode << "</td><td>" << Seconds(r->durationSeconds) << "</td><td>"
                 << Escaped(r->message) << FindingsList(r->findings) << "</td><td>"
                 << ReportLink(r->report, pageFolder) << "</td></tr>\n";
        }
    }
    html << "</table>\n</body>\n</html>\n";
    return html.str();
}

} // namespace tessor::fleet
