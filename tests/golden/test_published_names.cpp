// Every name in the golden outputs comes from the table of published names, and every name the table
// gives an output is there: the metric families with their HELP and TYPE, the monitor's JSON line keys,
// the recording's columns and the values of the status and line test JSON. No former name is left. The
// line test's criteria and its report's row ids are those of their table, in the spellings that stored
// reports, criteria files and --skip use.

#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "cli/FleetCommand.h"
#include "fleet/Reports.h"
#include "linetest/LineTest.h"
#include "model/LineTestNames.h"
#include "model/LineVocabulary.h"
#include "model/PublishedNames.h"
#include "monitor/ConsoleShare.h"
#include "monitor/Snapshot.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifndef TESSOR_GOLDEN_DIR
#error "TESSOR_GOLDEN_DIR must name the folder of the golden files"
#endif

namespace tessor {
namespace {

std::string Golden(const std::string& name) {
    std::ifstream in(std::string(TESSOR_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> TableNames(unsigned output) {
    std::set<std::string> names;
    for (const PublishedName& p : kPublishedNames) {
        if (p.outputs & output)
            names.insert(p.name);
    }
    return names;
}

std::set<std::string> Keys(const nlohmann::json& object) {
    std::set<std::string> keys;
    for (const auto& item : object.items())
        keys.insert(item.key());
    return keys;
}

// Every key at any depth.
void AllKeys(const nlohmann::json& j, std::set<std::string>* keys) {
    if (j.is_object()) {
        for (const auto& item : j.items()) {
            keys->insert(item.key());
            AllKeys(item.value(), keys);
        }
    } else if (j.is_array()) {
        for (const auto& item : j)
            AllKeys(item, keys);
    }
}

std::set<std::string> IndicatorNames() {
    std::set<std::string> names;
    for (const IndicatorDef& d : kIndicatorDefs)
        names.insert(d.name);
    return names;
}

std::set<std::string> CounterNames(const char* suffix = "") {
    std::set<std::string> names;
    for (const CounterDef& d : kCounterDefs)
        names.insert(std::string(d.name) + suffix);
    return names;
}

std::set<std::string> FormerNames(unsigned output) {
    std::set<std::string> names;
    for (const Rename& r : kRenames) {
        if (r.output & output)
            names.insert(r.former);
    }
    return names;
}

// Family -> "help|type" of each # HELP and # TYPE line.
std::map<std::string, std::string> Families(const std::string& exposition) {
    std::map<std::string, std::string> families;
    std::istringstream in(exposition);
    for (std::string line; std::getline(in, line);) {
        for (const char* start : {"# HELP ", "# TYPE "}) {
            if (line.rfind(start, 0) != 0)
                continue;
            const std::size_t nameEnd = line.find(' ', 7);
            std::string& entry = families[line.substr(7, nameEnd - 7)];
            entry += (entry.empty() ? "" : "|") + line.substr(nameEnd + 1);
        }
    }
    return families;
}

// Describe() finds a value by its place in the table; a name or metric is given once.
TEST(PublishedNames, TableIsInTheOrderOfItsValuesAndNamesAreUnique) {
    std::set<std::string> names;
    std::set<int> metrics;
    for (std::size_t i = 0; i < static_cast<std::size_t>(Published::kCount); ++i) {
        const PublishedName& p = kPublishedNames[i];
        EXPECT_EQ(static_cast<std::size_t>(p.value), i) << p.name;
        EXPECT_TRUE(names.insert(p.name).second) << p.name;
        if (p.metric != kMetricFamilyCount) {
            EXPECT_TRUE(metrics.insert(p.metric).second) << p.name;
        }
    }
}

TEST(PublishedNames, MetricFamiliesAreTheTablesWithItsHelpAndType) {
    monitor::Snapshot s;
    s.port = "sim";
    const monitor::CConsoleShare console("sim", {}, {}, {});
    const std::string all = Golden("metrics.txt") + monitor::RenderPollHealth(s, 1.0, false) +
                            monitor::RenderOutputsDropped({{"jsonl", "", 1}}) +
                            monitor::RenderConsoleShares({&console});
    std::map<std::string, std::string> expected;
    for (const PublishedName& p : kPublishedNames) {
        EXPECT_EQ(p.metric != kMetricFamilyCount, (p.outputs & kInMetrics) != 0) << p.name;
        if (p.metric == kMetricFamilyCount)
            continue;
        const MetricFamilyDef& f = kMetricFamilies[static_cast<std::size_t>(p.metric)];
        expected[f.name] = std::string(MetricHelp(p.metric)) + "|" + f.type;
    }
    for (int i = 0; i < kCounterDefCount; ++i)
        expected[EthernetCounterMetric(i)] =
            std::string(kCounterDefs[static_cast<std::size_t>(i)].help) + "|counter";
    EXPECT_EQ(Families(all), expected);
}

// A value's unit in the JSON outputs and the recording is its metric family's, in its short form.
TEST(PublishedNames, UnitsAreThoseOfTheirMetricFamilies) {
    const std::map<std::string, std::string> familyUnit{
        {"", ""},        {"dB", "decibels"}, {"dBm/Hz", "dbm_per_hertz"}, {"B/s", "bytes_per_second"},
        {"Hz", "hertz"}, {"s", "seconds"}};
    for (const PublishedName& p : kPublishedNames) {
        if (p.metric == kMetricFamilyCount)
            continue;
        const auto unit = familyUnit.find(p.unit);
        ASSERT_NE(unit, familyUnit.end()) << p.name << ": no metric unit for \"" << p.unit << "\"";
        EXPECT_EQ(unit->second, kMetricFamilies[static_cast<std::size_t>(p.metric)].unit) << p.name;
    }
}

// A value's metric is named by the same words as its JSON key and recording column: the key without its
// unit is part of the metric's name (an indicator's metric names one indicator).
TEST(PublishedNames, MetricsNameTheirValuesByTheSameWords) {
    for (const PublishedName& p : kPublishedNames) {
        if (p.metric == kMetricFamilyCount)
            continue;
        std::string stem = p.name;
        for (const char* unit : {"_dbm_hz", "_db", "_hertz", "_bytes_per_second", "_seconds", "_total"}) {
            const std::string u = unit;
            if (stem.size() > u.size() && stem.compare(stem.size() - u.size(), u.size(), u) == 0) {
                stem.resize(stem.size() - u.size());
                break;
            }
        }
        const std::string metric = kMetricFamilies[static_cast<std::size_t>(p.metric)].name;
        const std::string singular = stem.back() == 's' ? stem.substr(0, stem.size() - 1) : stem;
        EXPECT_NE(metric.find(singular), std::string::npos) << p.name << " is " << metric;
    }
}

TEST(PublishedNames, JsonLineKeysAreTheTables) {
    const nlohmann::json line = nlohmann::json::parse(Golden("monitor.jsonl"));
    // The figures of each direction are under "link".
    const std::set<std::string> direction{NameOf(Published::kLineRate), NameOf(Published::kCarrierFrequency)};
    std::set<std::string> top = TableNames(kInJsonLine);
    for (const std::string& name : direction)
        top.erase(name);
    top.erase(NameOf(Published::kDownstream));
    top.erase(NameOf(Published::kUpstream));
    // Written only for a board from an inventory.
    top.erase(NameOf(Published::kSite));
    top.erase(NameOf(Published::kBoard));
    EXPECT_EQ(Keys(line), top);
    EXPECT_EQ(Keys(line[NameOf(Published::kIndicators)]), IndicatorNames());
    EXPECT_EQ(Keys(line[NameOf(Published::kEthernetTotals)]), CounterNames());
    EXPECT_EQ(Keys(line[NameOf(Published::kLink)]["downstream"]), direction);
}

TEST(PublishedNames, RecordingColumnsAreTheTables) {
    const std::string recording = Golden("recording.csv");
    std::set<std::string> columns;
    std::istringstream header(recording.substr(0, recording.find('\n')));
    for (std::string column; std::getline(header, column, ',');)
        EXPECT_TRUE(columns.insert(column).second) << column << " twice";
    std::set<std::string> expected = TableNames(kInRecording);
    for (const std::set<std::string>& more :
         {IndicatorNames(), CounterNames(kCounterColumnSuffixes[0]), CounterNames(kCounterColumnSuffixes[1]),
          CounterNames(kCounterColumnSuffixes[2])})
        expected.insert(more.begin(), more.end());
    EXPECT_EQ(columns, expected);
}

// A register address ("8C72"), under which a document gives that register as read.
bool IsRegisterAddress(const std::string& key) {
    return key.size() == 4 && key.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// The documents of counters, verify and diff, from a pass and comparisons with every part filled in.
nlohmann::json CountersDocument() {
    ops::EthernetPass pass;
    pass.complete = true;
    pass.countersRead = kCounterDefCount;
    for (int i = 0; i < kCounterDefCount; ++i) {
        pass.raw[static_cast<std::size_t>(i)] = RegResult::Answer(i);
        pass.counts[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(i);
    }
    ops::EthernetCountTotals totals;
    totals.Add(pass);
    return cli::CountersJson(5.0, nlohmann::json::array({cli::CountersPassJson(pass)}), totals);
}

ConfigDiff FilledDiff() {
    ConfigDiff diff;
    diff.sidesDiffer = true;
    diff.notCompared = {"8C67"};
    diff.changes = {{"modem_side", "Modem side", "LT", "NT", {}},
                    {"register_8C40", "Register 8C40", "32", "33", {"8C40"}}};
    return diff;
}

nlohmann::json VerifyDocument() {
    linetest::ConfigComparison c;
    c.sideMatches = false;
    c.compared = 31;
    c.differences = {{"8C40", 0x32, 0x33}, {"8C41", std::nullopt, 0x01}};
    return cli::VerifyJson("a.LT", c, FilledDiff());
}

// fleet list's document of a board with every setting, and the summary of a backup that committed.
nlohmann::json FleetListDocument() {
    fleet::Inventory inventory;
    inventory.file = "fleet.yml";
    fleet::Board board;
    board.name = "b1";
    board.site = "north";
    board.port = "/dev/ttyUSB0";
    board.side = fleet::BoardSide::Lt;
    board.config = "b1.LT";
    board.criteria = "strict.yml";
    board.groups = {"all", "north"};
    return cli::FleetListJson(inventory, {board});
}

nlohmann::json BackupSummaryDocument() {
    fleet::BackupResult backup;
    backup.committed = true;
    backup.commit = "0123abc";
    backup.subject = "1 changed";
    return cli::BackupSummaryJson("backups", backup);
}

// The document a command that failed writes with --json.
nlohmann::json ErrorDocument() {
    std::ostringstream out, err;
    std::istringstream in;
    cli::GlobalOptions options;
    options.json = true;
    cli::CliSession session(err, 100, 0);
    const cli::Streams streams{out, err, in, false};
    const cli::Context ctx(options, streams, session);
    ctx.Fail(cli::kExitFile, "a.LT: cannot be read", "file_error");
    return nlohmann::json::parse(out.str());
}

// Every key of every JSON document, at any depth, is a name the table gives that output, an indicator's,
// an Ethernet counter's or a register address: no document writes a key of its own. The documents built
// here hold every name the table gives their output, and no former one.
TEST(PublishedNames, EveryJsonKeyIsTheTables) {
    fleet::BoardResult result;
    result.details = {{NameOf(Published::kSide), "lt"}, {NameOf(Published::kFailedCriteria), {"esr"}}};
    const std::string fleetLine = fleet::ResultLine(result);
    const std::string counters = CountersDocument().dump();
    const nlohmann::json compared =
        nlohmann::json::array({VerifyDocument(), cli::DiffJson("a.LT", "b.NT", FilledDiff())});
    std::set<std::string> outside = IndicatorNames();
    for (const std::string& counter : CounterNames())
        outside.insert(counter);
    struct Case {
        std::string text;
        unsigned output;
        bool every; // the document holds every name of its output
    };
    for (const Case& c : {Case{Golden("status.json"), kInStatusJson, false},
                          Case{Golden("linetest.json"), kInLineTestJson, false},
                          Case{Golden("monitor.jsonl"), kInJsonLine, false},
                          Case{fleetLine, kInFleetJson | kInStatusJson, false},
                          Case{counters, kInCountersJson, true}, Case{compared.dump(), kInCompareJson, true},
                          Case{FleetListDocument().dump(), kInFleetListJson, true},
                          Case{BackupSummaryDocument().dump(), kInBackupJson, true},
                          Case{ErrorDocument().dump(), kInErrorJson, true}}) {
        SCOPED_TRACE(c.text.substr(0, 60));
        std::set<std::string> keys;
        AllKeys(nlohmann::json::parse(c.text), &keys);
        const std::set<std::string> table = TableNames(c.output);
        for (const std::string& key : keys)
            EXPECT_TRUE(table.count(key) || outside.count(key) || IsRegisterAddress(key)) << key;
        for (const std::string& name : c.every ? table : std::set<std::string>())
            EXPECT_TRUE(keys.count(name)) << name;
        for (const std::string& former : FormerNames(c.output))
            EXPECT_FALSE(keys.count(former)) << former;
    }
    std::set<std::string> fleetKeys = Keys(nlohmann::json::parse(fleetLine));
    fleetKeys.insert(NameOf(Published::kFailedCriteria)); // under details
    EXPECT_EQ(fleetKeys, TableNames(kInFleetJson));
    EXPECT_EQ(Keys(nlohmann::json::parse(counters)[NameOf(Published::kEthernetTotals)]), CounterNames());
}

TEST(PublishedNames, StatusAndLineTestJsonHoldTheTablesNamesAndNoFormerOne) {
    for (const auto& [file, output] : {std::pair<const char*, unsigned>{"status.json", kInStatusJson},
                                       {"linetest.json", kInLineTestJson},
                                       {"monitor.jsonl", kInJsonLine}}) {
        SCOPED_TRACE(file);
        std::set<std::string> keys;
        AllKeys(nlohmann::json::parse(Golden(file)), &keys);
        for (const std::string& name : TableNames(output)) {
            // Written only when the report could not be, and for a board from an inventory.
            const bool inventoryOnly = output == kInJsonLine && (name == NameOf(Published::kSite) ||
                                                                 name == NameOf(Published::kBoard));
            if (name != NameOf(Published::kReportError) && !inventoryOnly) {
                EXPECT_TRUE(keys.count(name)) << name;
            }
        }
        for (const std::string& former : FormerNames(output))
            EXPECT_FALSE(keys.count(former)) << former;
    }
    const std::map<std::string, std::string> metrics = Families(Golden("metrics.txt"));
    for (const std::string& former : FormerNames(kInMetrics))
        EXPECT_FALSE(metrics.count(former)) << former;
}

// Each column's earlier spellings are among its former names; a column never renamed has none.
TEST(PublishedNames, RecordingColumnsTakeTheirFormerNames) {
    struct Case {
        const char* column;
        std::vector<std::string> former;
    };
    const Case cases[] = {
        {"snr_db", {}},
        {"tx_frames_read", {}},
        {"tx_pause_framesx", {}}, // a beginning renames whole words only
        {"rs_corrected_per_second", {"rs_per_s"}},
        {"tc_sync", {"tc_synchronized"}},
        {"tx_frames_per_second", {"tx_frames_per_s"}},
        {"tx_pause_frames_total", {"tx_pause_total"}},
        {"tx_pause_frames_per_second", {"tx_pause_frames_per_s", "tx_pause_per_s"}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> former = FormerColumnNames(c.column);
        if (c.former.empty()) {
            EXPECT_TRUE(former.empty()) << c.column;
        }
        for (const std::string& name : c.former)
            EXPECT_NE(std::find(former.begin(), former.end(), name), former.end())
                << c.column << ": " << name;
    }
}

TEST(LineTestNames, TablesAreInTheOrderOfTheirValuesAndIdsAreUnique) {
    std::set<std::string> names;
    for (std::size_t i = 0; i < kCriterionCount; ++i) {
        EXPECT_EQ(static_cast<std::size_t>(kCriteria[i].id), i) << kCriteria[i].name;
        EXPECT_TRUE(names.insert(kCriteria[i].name).second) << kCriteria[i].name;
    }
    std::set<std::string> ids;
    for (std::size_t i = 0; i < static_cast<std::size_t>(ReportRow::kCount); ++i) {
        const char* id = ReportRowId(kReportRows[i].row);
        EXPECT_EQ(static_cast<std::size_t>(kReportRows[i].row), i) << id;
        EXPECT_TRUE(ids.insert(id).second) << id;
    }
}

// The spellings themselves are pinned here, apart from the table: reports, criteria files and scripts
// that pass --skip name them so (the former spellings are still read, below).
TEST(LineTestNames, CriteriaKeepTheirPublishedSpellings) {
    const std::vector<std::string> expected{"min_snr",
                                            "no_line_drop",
                                            "link_fail_unchanged",
                                            "rs_corrected_per_second",
                                            "no_ethernet_errors",
                                            "no_unavailable_interval",
                                            "esr",
                                            "sesr",
                                            "answered_every_pass"};
    std::vector<std::string> names;
    for (const CriterionDef& d : kCriteria)
        names.push_back(d.name);
    EXPECT_EQ(names, expected);
    std::vector<std::string> json;
    const nlohmann::json doc = nlohmann::json::parse(Golden("linetest.json"));
    for (const nlohmann::json& c : doc["criteria"])
        json.push_back(c["name"]);
    EXPECT_EQ(json, expected);
}

// The report's ids (from the golden run) are the table's: criteria, figure rows, Ethernet counter rows,
// results and the verdict.
TEST(LineTestNames, ReportIdsAreTheTables) {
    std::map<std::string, std::set<std::string>> found;
    std::istringstream in(Golden("linetest-report-ids.txt"));
    for (std::string attribute, value; in >> attribute >> value;)
        found[attribute].insert(value);
    std::set<std::string> criteria, figures,
        results{kCriterionPassed, kCriterionFailed, kCriterionNotChecked};
    for (const CriterionDef& d : kCriteria)
        criteria.insert(d.name);
    for (const ReportRowDef& d : kReportRows)
        figures.insert(ReportRowId(d.row));
    // A row that shows a published value is named by it.
    EXPECT_STREQ(ReportRowId(ReportRow::kRsTotal), NameOf(Published::kRsCorrectedTotal));
    for (const std::string& former : FormerNames(kInLineTestReport)) {
        EXPECT_FALSE(found["data-figure"].count(former)) << former;
        EXPECT_FALSE(found["data-criterion"].count(former)) << former;
    }
    for (const std::string& counter : CounterNames())
        figures.insert(kReportEthernetRowPrefix + counter);
    EXPECT_EQ(found["data-criterion"], criteria);
    EXPECT_EQ(found["data-figure"], figures);
    for (const std::string& result : found["data-result"])
        EXPECT_TRUE(results.count(result)) << result;
    EXPECT_EQ(found["data-verdict"], std::set<std::string>{"failed"});
    EXPECT_EQ(found.size(), 4u);
}

// Every value the line test's JSON publishes has its row in the report.
TEST(LineTestNames, EveryValueOfTheLineTestJsonHasItsReportRow) {
    std::set<Published> shown;
    for (const ReportRowDef& d : kReportRows)
        if (d.shows)
            shown.insert(*d.shows);
    shown.insert(Published::kEthernetTotals); // a row for each counter, kReportEthernetRowPrefix
    // An interval row gives the seconds its intervals cover beside their count.
    for (const Published seconds : {Published::kErroredSeconds, Published::kSeverelyErroredSeconds,
                                    Published::kUnavailableSeconds, Published::kAvailableSeconds})
        shown.insert(seconds);
    for (const PublishedName& p : kPublishedNames) {
        if ((p.outputs & kInLineTestJson) && p.value < kFirstDocumentKey) {
            EXPECT_TRUE(shown.count(p.value)) << p.name;
        }
    }
}

// A criteria file names each limit and each check by the criterion's spelling; the criterion always
// checked has no check name.
TEST(LineTestNames, CriteriaFileNamesSetTheirOwnCriterion) {
    using linetest::Criteria;
    struct Case {
        const char* line;
        bool Criteria::*check; // the one check it turns off, or nullptr
    };
    const Case cases[] = {
        {"check_min_snr = no", &Criteria::checkSnr},
        {"check_no_line_drop = no", &Criteria::checkLineDrop},
        {"check_link_fail_unchanged = no", &Criteria::checkLinkFail},
        {"check_rs_corrected_per_second = no", &Criteria::checkRs},
        {"check_rs_per_second = no", &Criteria::checkRs}, // its former spelling
        {"check_no_ethernet_errors = no", &Criteria::checkEthernetErrors},
        {"check_no_unavailable_interval = no", &Criteria::checkUnavailable},
        {"check_esr = no", &Criteria::checkEsr},
        {"check_sesr = no", &Criteria::checkSesr},
    };
    for (const Case& c : cases) {
        Criteria k;
        std::string error;
        ASSERT_TRUE(cli::ReadCriteriaFile(c.line, &k, &error)) << c.line << ": " << error;
        for (bool Criteria::*check : {&Criteria::checkSnr, &Criteria::checkLineDrop, &Criteria::checkLinkFail,
                                      &Criteria::checkRs, &Criteria::checkEthernetErrors,
                                      &Criteria::checkUnavailable, &Criteria::checkEsr, &Criteria::checkSesr})
            EXPECT_EQ(k.*check, check != c.check) << c.line;
    }
    Criteria k;
    std::string error;
    for (const char* limit : {"max_rs_corrected_per_second", "max_rs_per_second"}) {
        k = Criteria();
        const std::string file = std::string("min_snr = 45\n") + limit + " = 2.5\ncheck_min_snr = yes\n";
        ASSERT_TRUE(cli::ReadCriteriaFile(file, &k, &error)) << error;
        EXPECT_EQ(k.minSnrCenti, 4500);
        EXPECT_EQ(k.maxRsPerSecond, 2.5) << limit;
        EXPECT_TRUE(k.checkSnr);
    }
    for (const char* bad :
         {"check_answered_every_pass = no", "check_rs_total = no", "max_rs_total = 5", "max_min_snr = 5"}) {
        EXPECT_FALSE(cli::ReadCriteriaFile(bad, &k, &error)) << bad;
        EXPECT_NE(error.find("unknown name"), std::string::npos) << bad << ": " << error;
    }
    EXPECT_FALSE(cli::ReadCriteriaFile("min_snr = lots", &k, &error));
    EXPECT_EQ(error, "line 1: min_snr needs a number from 0 to 100 (dB)");
    EXPECT_FALSE(cli::ReadCriteriaFile("\nmax_rs_per_second = -1", &k, &error));
    EXPECT_EQ(error, "line 2: max_rs_per_second needs a number from 0 to 1000000");
}

// The ESR and SESR limits each set their own; a file written before them keeps their defaults.
TEST(LineTestNames, CriteriaFileSetsTheIntervalLimits) {
    const linetest::Criteria defaults;
    linetest::Criteria k;
    std::string error;
    ASSERT_TRUE(cli::ReadCriteriaFile("min_snr = 32\nmax_rs_per_second = 5\n", &k, &error)) << error;
    EXPECT_EQ(k.maxEsrPercent, defaults.maxEsrPercent);
    EXPECT_EQ(k.maxSesrPercent, defaults.maxSesrPercent);
    ASSERT_TRUE(cli::ReadCriteriaFile(
        "max_esr_percent = 100\nmax_sesr_percent = 0\nsevere_error_percent = 2.5\n", &k, &error))
        << error;
    EXPECT_EQ(k.maxEsrPercent, 100);
    EXPECT_EQ(k.maxSesrPercent, 0);
    EXPECT_EQ(k.intervalRules.severeErrorPpm, 25000u);
    for (const char* bad : {"max_esr_percent = 100.5", "max_sesr_percent = -1", "max_esr_percent = nan",
                            "severe_error_percent = 0", "severe_error_percent = 100.5"}) {
        EXPECT_FALSE(cli::ReadCriteriaFile(bad, &k, &error)) << bad;
        EXPECT_NE(error.find("needs a number from 0"), std::string::npos) << error;
    }
}

// --skip takes a criterion that may be left out by its name or its former name.
TEST(LineTestNames, SkipTakesTheCriterionsNameAndItsFormerName) {
    struct Case {
        const char* name;
        const CriterionDef* criterion;
    };
    const CriterionDef* rs = &Describe(CriterionId::RsPerSecond);
    for (const Case& c :
         {Case{"rs_corrected_per_second", rs}, Case{"rs_per_second", rs},
          Case{"min_snr", &Describe(CriterionId::MinSnr)}, Case{"answered_every_pass", nullptr},
          Case{"max_rs_per_second", nullptr}, Case{"rs_total", nullptr}})
        EXPECT_EQ(OptionalCriterion(c.name), c.criterion) << c.name;
}

} // namespace
} // namespace tessor
