// fleet list: the boards an inventory and --limit select, with the port, side and files each is run with;
// fleet status, save, verify and linetest: the single-board command on every selected board, as a campaign.
#include "cli/FleetCommand.h"

#include "cli/CliSession.h"
#include "files/PlainFile.h"
#include "fleet/Campaign.h"
#include "fleet/GitBackup.h"
#include "fleet/Inventory.h"
#include "fleet/Reports.h"
#include "linetest/ConfigCompare.h"
#include "linetest/LineTestBoard.h"
#include "link/NetworkSocket.h"
#include "model/ConfigFile.h"
#include "model/PublishedNames.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <vector>

namespace tessor::cli {

namespace {

nlohmann::json Optional(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// The boards as a table: a header, then one row per board with its columns aligned; "-" for a value not set.
std::string BoardTable(const std::vector<fleet::Board>& boards) {
    std::vector<std::vector<std::string>> rows{{"BOARD", "SITE", "PORT", "SIDE", "CONFIG"}};
    for (const fleet::Board& board : boards)
        rows.push_back({board.name, board.site, board.port,
                        board.side ? fleet::BoardSideName(*board.side) : "-", board.config.value_or("-")});
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i] + std::string(widths[i] - row[i].size() + 2, ' ') : row[i];
        text += line + "\n";
    }
    return text;
}

} // namespace

nlohmann::json FleetListJson(const fleet::Inventory& inventory, const std::vector<fleet::Board>& boards) {
    nlohmann::json list = nlohmann::json::array();
    for (const fleet::Board& board : boards) {
        // The board's published values under the table's names, its inventory settings beside them.
        list.push_back({{NameOf(Published::kBoard), board.name},
                        {NameOf(Published::kSite), board.site},
                        {NameOf(Published::kPort), board.port},
                        {NameOf(Published::kSide),
                         board.side ? nlohmann::json(fleet::BoardSideName(*board.side)) : nullptr},
                        {NameOf(Published::kConfig), Optional(board.config)},
                        {NameOf(Published::kCriteria), Optional(board.criteria)},
                        {NameOf(Published::kGroups), board.groups}});
    }
    return {{NameOf(Published::kInventory), inventory.file}, {NameOf(Published::kBoards), list}};
}

nlohmann::json BackupSummaryJson(const std::string& repository, const fleet::BackupResult& backup) {
    const auto committed = [&](const std::string& value) {
        return backup.committed ? nlohmann::json(value) : nlohmann::json();
    };
    return {{NameOf(Published::kCommand), "backup"},
            {NameOf(Published::kRepository), repository},
            {NameOf(Published::kCommitted), backup.committed},
            {NameOf(Published::kChanged), backup.changed},
            {NameOf(Published::kAdded), backup.added},
            {NameOf(Published::kFailed), backup.failed},
            {NameOf(Published::kCommit), committed(backup.commit)},
            {NameOf(Published::kSubject), committed(backup.subject)}};
}

namespace {

int RunList(const Context& ctx, const fleet::Inventory& inventory, const std::vector<fleet::Board>& boards) {
    return ctx.Done(FleetListJson(inventory, boards), BoardTable(boards));
}

// A site's name as a folder name: no separators, never "." or "..".
std::string FolderName(const std::string& site) {
    std::string name = site;
    std::replace(name.begin(), name.end(), '/', '_');
    return name.empty() || name == "." || name == ".." ? "_" + name : name;
}

// The side a command's document reports ("LT" or "NT"), empty when it reports none.
std::string ReportedSide(const nlohmann::json& doc) {
    const char* side = NameOf(Published::kSide);
    if (doc.contains(side) && doc[side].is_string())
        return doc[side].get<std::string>();
    if (doc.contains(side) && doc[side].is_object() && doc[side].contains(NameOf(Published::kBoard)))
        return doc[side][NameOf(Published::kBoard)].get<std::string>();
    return std::string();
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Why a board that reports side (as ReportedSide gives it) is not the board the inventory names; empty
// when it is, or when either says nothing.
std::string WrongSide(const fleet::Board& board, const std::string& side) {
    if (!board.side || side.empty() || side == Upper(fleet::BoardSideName(*board.side)))
        return std::string();
    return "the board reports the " + side + " side; the inventory says " + fleet::BoardSideName(*board.side);
}

// What the campaign keeps of a command's document.
nlohmann::json Details(const std::string& command, const nlohmann::json& doc) {
    nlohmann::json details = nlohmann::json::object();
    const std::string side = ReportedSide(doc);
    if (!side.empty())
        details[NameOf(Published::kSide)] = side;
    if (command == "status") {
        for (const char* key : {NameOf(Published::kLineUp), NameOf(Published::kPhy)})
            if (doc.contains(key))
                details[key] = doc[key];
    } else if (command == "verify") {
        for (const char* key :
             {NameOf(Published::kFile), NameOf(Published::kEqual), NameOf(Published::kCompared),
              NameOf(Published::kDifferences), NameOf(Published::kChanges), NameOf(Published::kNotCompared)})
            if (doc.contains(key))
                details[key] = doc[key];
    } else if (command == "linetest" && doc.contains(NameOf(Published::kVerdict))) {
        details[NameOf(Published::kVerdict)] = doc[NameOf(Published::kVerdict)];
        details[NameOf(Published::kReport)] = doc.value(NameOf(Published::kReport), nlohmann::json());
        details[NameOf(Published::kNotRunReason)] =
            doc.value(NameOf(Published::kNotRunReason), nlohmann::json());
        nlohmann::json failed = nlohmann::json::array();
        for (const nlohmann::json& c : doc.value(NameOf(Published::kCriteria), nlohmann::json::array()))
            if (c.value(NameOf(Published::kChecked), false) && !c.value(NameOf(Published::kPassed), true))
                failed.push_back(c.value(NameOf(Published::kCriterionName), std::string()));
        details[NameOf(Published::kFailedCriteria)] = failed;
    }
    return details;
}

std::string Text(const nlohmann::json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

// What differs or failed, one line each: verify's changes in the words of the pages, the line test's
// criteria that were not met with what was measured against the limit.
std::vector<std::string> Findings(const std::string& command, const nlohmann::json& doc) {
    std::vector<std::string> findings;
    if (command == "verify") {
        for (const nlohmann::json& change : doc.value(NameOf(Published::kChanges), nlohmann::json::array()))
            findings.push_back(Text(change.value(NameOf(Published::kWords), nlohmann::json(""))));
        for (const nlohmann::json& name : doc.value(NameOf(Published::kNotCompared), nlohmann::json::array()))
            findings.push_back("Register " + Text(name) + ": not compared, the sides differ");
    } else if (command == "linetest") {
        for (const nlohmann::json& c : doc.value(NameOf(Published::kCriteria), nlohmann::json::array()))
            if (c.value(NameOf(Published::kChecked), false) && !c.value(NameOf(Published::kPassed), true))
                findings.push_back(Text(c.value(NameOf(Published::kCaption), nlohmann::json(""))) + ": " +
                                   Text(c.value(NameOf(Published::kMeasured), nlohmann::json(""))) + " (" +
                                   Text(c.value(NameOf(Published::kLimit), nlohmann::json(""))) + ")");
    }
    return findings;
}

// The link's word for why a line test could not run, as its reason names it; "not_run" when it names none.
std::string NotRunOutcome(const std::string& reason) {
    for (const Outcome outcome : {Outcome::Garbled, Outcome::NoAnswer, Outcome::Cancelled,
                                  Outcome::DeviceFailed, Outcome::MailboxIncomplete, Outcome::LineDown})
        if (reason.find(std::string("(") + linetest::OutcomeText(outcome) + ")") != std::string::npos)
            return OutcomeName(outcome);
    return "not_run";
}

// A line test's verdict as the campaign's outcome and message: a test that ran and did not pass failed,
// one that could not run is an error of the link.
void LineTestVerdict(const nlohmann::json& doc, fleet::BoardResult* result) {
    const std::string verdict = doc.value(NameOf(Published::kVerdict), std::string());
    const std::string reason = doc.value(NameOf(Published::kNotRunReason), nlohmann::json()).is_string()
                                   ? doc[NameOf(Published::kNotRunReason)].get<std::string>()
                                   : std::string();
    if (doc.contains(NameOf(Published::kReportError)) && doc[NameOf(Published::kReportError)].is_string()) {
        result->outcome = fleet::kOutcomeFailed;
        result->message = doc[NameOf(Published::kReportError)].get<std::string>();
    } else if (verdict == "not_run") {
        result->outcome = NotRunOutcome(reason);
        result->message = "the line test could not run: " + reason;
    } else if (verdict == "stopped") {
        result->outcome = OutcomeName(Outcome::Cancelled);
        result->message = "the line test was stopped before its time";
    } else {
        result->outcome = fleet::kOutcomeFailed;
        const std::size_t failed =
            result->details.value(NameOf(Published::kFailedCriteria), nlohmann::json::array()).size();
        result->message = "the line test failed: " + std::to_string(failed) +
                          (failed == 1 ? " criterion" : " criteria") + " not met";
    }
}

// The campaign command that was parsed. A backup is a save into a private folder, then into git.
std::string CommandName(const FleetArguments& args) {
    if (args.save->parsed())
        return "save";
    if (args.backup->parsed())
        return "backup";
    if (args.linetest->parsed())
        return "linetest";
    return args.verify->parsed() ? "verify" : "status";
}

// Where a board's line test report goes: DIR/SITE/BOARD.html.
std::string ReportPath(const FleetArguments& args, const fleet::Board& board) {
    return args.out + "/" + FolderName(board.site) + "/" + board.name + ".html";
}

// One board's run: the single-board command on its port, its JSON document read back for the verdict.
// signalled: set by SIGINT or SIGTERM, as against a board past its deadline.
fleet::BoardResult RunBoard(const FleetArguments& args, const GlobalOptions& global,
                            const fleet::Board& board, fleet::StopToken& stop,
                            const std::atomic<bool>& signalled) {
    fleet::BoardResult result;
    const std::string command = CommandName(args);
    const bool saving = command == "save" || command == "backup";
    if (command == "verify" && !board.config) {
        result.outcome = fleet::kOutcomeFailed;
        result.exitCode = kExitUsage;
        result.message = "no tessor_config in the inventory for this board; nothing to verify against";
        return result;
    }
    GlobalOptions options = global;
    options.json = true;
    options.yes = false;
    options.port = board.port;
    options.blockReads = args.blockReads;
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in;
    const Streams streams{out, err, in, false};
    CliSession session(err, options.answerTimeoutMs, options.retries);
    // Every command ends at its next exchange, except a line test stopped by a signal: it ends after
    // its pass, as on one port, and its verdict is "stopped" rather than that of reads cut short.
    std::atomic<bool> stopLineTest{false};
    stop.OnCancel([&session, &stopLineTest, &signalled, linetest = command == "linetest"] {
        stopLineTest.store(true);
        if (!linetest || !signalled.load())
            session.Cancel();
    });
    const Context ctx(options, streams, session);
    const ResolvedPort port = ResolvePort(board.port);

    // The line test: the board's criteria file in place of --criteria, the options over it, its report
    // in DIR/SITE/BOARD.html. A criteria file that cannot be used fails the board before its port opens.
    LineTestArgs lineTest;
    std::string lineTestSide; // the side the line test read; its document reports none
    int criteriaCode = kExitOk;
    if (command == "linetest") {
        lineTest = args.lineTest.args;
        // The report names the line by its site and board.
        lineTest.site = board.site + " / " + board.name;
        lineTest.report = ReportPath(args, board);
        // The side is checked as soon as the test has read it, so that the wrong board is never tested.
        lineTest.refuseSide = [&board, &lineTestSide](std::uint8_t side) {
            lineTestSide = SideName(side);
            return WrongSide(board, lineTestSide);
        };
        std::error_code error;
        std::filesystem::create_directories(args.out + "/" + FolderName(board.site), error);
        criteriaCode = ApplyLineTestCriteria(
            ctx, args.lineTest, board.criteria.value_or(args.lineTest.criteriaFile), &lineTest.criteria);
    }

    std::string temporary;
    std::string saved;
    if (saving) {
        const std::string folder = args.out + "/" + FolderName(board.site);
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        temporary = folder + "/." + board.name + ".saving";
        saved = folder + "/" + board.name;
    }
    int openError = 0;
    if (stop.Cancelled()) {
        result.exitCode = ctx.BoardFailure(RegResult::Fail(Outcome::Cancelled));
    } else if (criteriaCode != kExitOk) {
        result.exitCode = criteriaCode;
    } else if ((openError = session.Open(port)) != 0) {
        result.exitCode = ctx.Fail(kExitPort, PortProblem(port, openError),
                                   openError == kNetworkPortBusy ? "port_busy" : "failed");
    } else if (saving) {
        result.exitCode = RunSave(ctx, temporary);
    } else if (command == "verify") {
        result.exitCode = RunVerify(ctx, *board.config);
    } else if (command == "linetest") {
        result.exitCode = RunLineTest(ctx, lineTest, stopLineTest);
    } else {
        result.exitCode = RunStatus(ctx);
    }
    nlohmann::json doc = nlohmann::json::parse(out.str(), nullptr, false);
    if (!doc.is_object())
        doc = nlohmann::json::object();
    result.details = Details(command, doc);
    result.findings = Findings(command, doc);
    const std::string error = doc.value(NameOf(Published::kError), std::string());
    result.outcome = result.exitCode == kExitOk       ? fleet::kOutcomeOk
                     : result.exitCode == kExitDiffer ? fleet::kOutcomeDiffers
                     : error.empty()                  ? fleet::kOutcomeFailed
                                                      : error;
    if (result.exitCode != kExitOk)
        result.message = doc.value(NameOf(Published::kMessage), err.str());
    if (command == "linetest" && doc.contains(NameOf(Published::kVerdict))) {
        if (doc[NameOf(Published::kReport)].is_string())
            result.report = doc[NameOf(Published::kReport)].get<std::string>();
        if (result.exitCode != kExitOk)
            LineTestVerdict(doc, &result);
    } else if (command == "verify" && result.exitCode == kExitDiffer) {
        const std::size_t changes = doc.value(NameOf(Published::kChanges), nlohmann::json::array()).size();
        result.message =
            std::to_string(changes) + (changes == 1 ? " change" : " changes") + " from " + *board.config;
    }
    // The inventory names the side the board must be; the file is kept only for the right side.
    const std::string side = command == "linetest" ? lineTestSide : ReportedSide(doc);
    const std::string wrongSide = WrongSide(board, side);
    if (!wrongSide.empty() && result.exitCode != kExitUsage) {
        result.outcome = fleet::kOutcomeFailed;
        result.exitCode = kExitRefused;
        result.message = wrongSide;
    }
    if (saving) {
        int fileError = 0;
        if (result.outcome == fleet::kOutcomeOk) {
            saved += "." + side;
            if (ReplacePlainFile(temporary, saved, &fileError)) {
                result.details[NameOf(Published::kFile)] = saved;
            } else {
                result.outcome = fleet::kOutcomeFailed;
                result.exitCode = kExitFile;
                result.message = saved + ": could not be written: " + PlainFileErrorText(fileError) + ".";
            }
        }
        RemovePlainFile(temporary);
    }
    return result;
}

// The progress line: rewritten in place on the terminal.
void ShowProgress(std::ostream& err, const fleet::CampaignProgress& p) {
    std::ostringstream line;
    line << "\r" << p.done << "/" << p.total << " done, " << p.failed << " failed, " << p.running
         << " running";
    if (!p.slowest.empty())
        line << ", slowest " << p.slowest << " " << static_cast<int>(p.slowestSeconds) << " s";
    err << line.str() << "\x1b[K" << std::flush;
}

// Writes text whole to path; false after saying why on err.
bool WriteWhole(std::ostream& err, const std::string& path, const std::string& text) {
    int error = 0;
    if (ReplacePlainFileContents(path, text.data(), text.size(), &error))
        return true;
    err << "tessor-cli: " << path << ": could not be written: " << PlainFileErrorText(error)
        << ".\nCheck that its folder exists and that you may write there." << std::endl;
    return false;
}

int RunCampaign(const FleetArguments& args, const GlobalOptions& options, const Streams& streams,
                const std::vector<fleet::Board>& boards, Interruption& interruption,
                std::vector<fleet::BoardResult>* kept = nullptr) {
    // Every output's place is checked before any board is opened.
    for (const std::string* path : {&args.junit, &args.csv, &args.html}) {
        int error = 0;
        if (!path->empty() && !CanReplacePlainFile(*path, &error)) {
            streams.err << "tessor-cli: " << *path << ": cannot be created: " << PlainFileErrorText(error)
                        << ".\nCheck that its folder exists and that you may write there." << std::endl;
            return kExitFile;
        }
    }
    if (args.save->parsed() || args.backup->parsed() || args.linetest->parsed()) {
        std::error_code error;
        std::filesystem::create_directories(args.out, error);
        if (error) {
            streams.err << "tessor-cli: " << args.out << ": cannot be created: " << error.message()
                        << ".\nGive a folder you may write in with --out." << std::endl;
            return kExitFile;
        }
    }
    const std::string command = CommandName(args);
    fleet::CampaignLimits limits;
    limits.jobs = args.jobs;
    limits.perServer = args.perServer;
    limits.deadline = std::chrono::milliseconds(static_cast<long long>(args.deadlineS * 1000.0));
    if (args.linetest->parsed() && args.deadlineOption->count() == 0)
        limits.deadline = fleet::DefaultDeadline(args.lineTest.args.duration);
    const bool terminal = StandardErrorIsTerminal();
    fleet::CampaignHooks hooks;
    hooks.stop = &interruption.requested;
    hooks.finished = [&](const fleet::BoardResult& result) {
        if (terminal)
            streams.err << "\r\x1b[K" << std::flush;
        streams.out << fleet::ResultLine(result) << "\n" << std::flush;
    };
    if (terminal)
        hooks.progress = [&](const fleet::CampaignProgress& p) { ShowProgress(streams.err, p); };
    interruption.graceful.store(true);
    const std::vector<fleet::BoardResult> results = fleet::RunCampaign(
        boards, command, limits,
        [&](const fleet::Board& board, fleet::StopToken& stop) {
            return RunBoard(args, options, board, stop, interruption.requested);
        },
        hooks);
    if (terminal)
        streams.err << "\r\x1b[K" << std::flush;
    if (kept)
        *kept = results;

    bool written = true;
    if (!args.junit.empty())
        written = WriteWhole(streams.err, args.junit, fleet::JUnitText(results)) && written;
    if (!args.csv.empty())
        written = WriteWhole(streams.err, args.csv, fleet::CsvText(results)) && written;
    if (!args.html.empty())
        written = WriteWhole(streams.err, args.html,
                             fleet::HtmlText(results, "tessor-cli fleet " + command,
                                             std::filesystem::path(args.html).parent_path().string())) &&
                  written;
    if (interruption.requested.load())
        return 128 + (interruption.signal.load() != 0 ? interruption.signal.load() : 2);
    if (!written)
        return kExitFile;
    const bool allOk = std::all_of(results.begin(), results.end(),
                                   [](const fleet::BoardResult& r) { return fleet::Succeeded(r); });
    return allOk && results.size() == boards.size() ? kExitOk : kExitDiffer;
}

// The registers of a file that save wrote, in the order of kConfigRegisters; none when one is missing.
std::optional<std::array<std::uint8_t, kConfigRegisterCount>> SavedValues(const std::string& path) {
    std::string bytes;
    int error = 0;
    if (!ReadSmallPlainFile(path, &bytes, &error))
        return std::nullopt;
    const linetest::ParsedConfiguration parsed = linetest::ParseConfiguration(bytes);
    if (!parsed.ok)
        return std::nullopt;
    std::array<std::uint8_t, kConfigRegisterCount> values{};
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        const auto record = std::find_if(
            parsed.records.begin(), parsed.records.end(),
            [&](const linetest::ParsedConfiguration::Record& r) { return r.address == kConfigRegisters[i]; });
        if (record == parsed.records.end())
            return std::nullopt;
        values[i] = record->value;
    }
    return values;
}

// A board of the campaign as the backup takes it: its saved registers, or why there are none.
fleet::BackupBoard BackupBoardOf(const fleet::Board& board, const fleet::BoardResult& result) {
    fleet::BackupBoard b;
    b.site = board.site;
    b.name = board.name;
    const std::string file = result.details.value(NameOf(Published::kFile), std::string());
    b.side = file.size() > 3 && file.compare(file.size() - 3, 3, ".NT") == 0 ? fleet::BoardSide::Nt
                                                                             : fleet::BoardSide::Lt;
    if (fleet::Succeeded(result))
        b.values = SavedValues(file);
    if (!b.values)
        b.failure = result.message.empty() ? result.outcome : result.message;
    if (!b.values && b.failure.empty())
        b.failure = "the saved file could not be read back";
    return b;
}

int BackupExitCode(fleet::BackupErrorKind kind) {
    switch (kind) {
    case fleet::BackupErrorKind::Dirty:
        return kExitRefused;
    case fleet::BackupErrorKind::GitMissing:
    case fleet::BackupErrorKind::GitFailed:
    case fleet::BackupErrorKind::NotAFolder:
    case fleet::BackupErrorKind::CannotCreate:
    case fleet::BackupErrorKind::ReadOnly:
    case fleet::BackupErrorKind::WriteFailed:
        break;
    }
    return kExitFile;
}

// A save of every board into a private folder, then the files into the repository with one commit when
// any changed. A run stopped by a signal commits nothing.
int RunBackup(const FleetArguments& args, const GlobalOptions& options, const Streams& streams,
              const std::vector<fleet::Board>& boards, Interruption& interruption) {
    std::error_code error;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "tessor-backup-XXXXXX").string();
    if (error || !mkdtemp(pattern.data())) {
        streams.err << "tessor-cli: " << pattern << ": cannot make a folder for the saved files.\n"
                    << "Check that TMPDIR names a folder you may write in." << std::endl;
        return kExitFile;
    }
    FleetArguments saving = args;
    saving.out = pattern;
    std::vector<fleet::BoardResult> results;
    const int campaign = RunCampaign(saving, options, streams, boards, interruption, &results);
    int code = campaign;
    if (!interruption.requested.load() && campaign != kExitFile) {
        std::vector<fleet::BackupBoard> backups;
        for (const fleet::BoardResult& result : results) {
            const auto board = std::find_if(boards.begin(), boards.end(),
                                            [&](const fleet::Board& b) { return b.name == result.board; });
            if (board != boards.end())
                backups.push_back(BackupBoardOf(*board, result));
        }
        fleet::BackupOptions backupOptions;
        backupOptions.crystalIndex = kConfigCrystalIndex;
        fleet::BackupResult backup;
        fleet::BackupError backupError;
        if (!fleet::BackupToGit(args.git, backups, backupOptions, &backup, &backupError)) {
            streams.err << "tessor-cli: " << backupError.message << std::endl;
            code = BackupExitCode(backupError.kind);
        } else {
            const nlohmann::json summary = BackupSummaryJson(args.git, backup);
            streams.out << summary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n"
                        << std::flush;
        }
    }
    std::filesystem::remove_all(pattern, error);
    return code;
}

// The campaign options every campaign command takes; gives its --deadline.
CLI::Option* AddCampaignOptions(CLI::App* command, FleetArguments& args) {
    command->add_option("--jobs", args.jobs, "boards run at once (default 16)")->check(CLI::Range(1, 1024));
    command
        ->add_option("--per-server", args.perServer,
                     "connections at once to one console server host; a local device is its own host "
                     "(default 4)")
        ->check(CLI::Range(1, 1024));
    CLI::Option* deadline =
        command
            ->add_option("--deadline", args.deadlineS,
                         "seconds one board may take; then it is stopped at its next command (default 60; "
                         "linetest: its duration and 60)")
            ->check(CLI::Range(0.1, 86400.0));
    command->add_option("--junit", args.junit,
                        "write JUnit XML: a test suite per site, a test case per board");
    command->add_option("--csv", args.csv, "write a CSV file: a row per board");
    command->add_option("--html", args.html, "write one HTML page: the counts and every board's outcome");
    command->add_flag("--block-reads", args.blockReads,
                      "read runs of consecutive registers with one command each (at most 8 registers)");
    return deadline;
}

} // namespace

CLI::App* AddFleetCommand(CLI::App& app, FleetArguments& args) {
    CLI::App* fleet = app.add_subcommand("fleet", "commands over the boards of an inventory file");
    fleet->require_subcommand(1);
    fleet->add_option("--inventory", args.inventory, "the inventory: boards behind console servers (YAML)")
        ->required();
    args.limitOption =
        fleet->add_option("--limit", args.limit,
                          "the boards to run on: group or board names or globs such as cab1*, separated by , "
                          "with !NAME to leave out and &GROUP to intersect (default: every board)");
    args.list = fleet->add_subcommand("list", "print the selected boards: site, port, side and files");
    args.status = fleet->add_subcommand("status", "read every selected board's status; a JSON line each");
    args.save = fleet->add_subcommand("save", "save every selected board's configuration into --out DIR, as "
                                              "DIR/SITE/BOARD.LT or .NT");
    args.save->add_option("--out", args.out, "the folder of the saved files")->required();
    args.verify = fleet->add_subcommand("verify", "compare every selected board with its tessor_config file");
    args.backup = fleet->add_subcommand(
        "backup", "save every selected board into the git repository --git DIR, as DIR/SITE/BOARD.LT or .NT, "
                  "with one commit when a file changed");
    args.backup->add_option("--git", args.git, "the repository (made when missing)")->required();
    args.linetest = fleet->add_subcommand(
        "linetest", "the line acceptance test on every selected board, each with its tessor_criteria file "
                    "when it has one; a report each in --out DIR, as DIR/SITE/BOARD.html");
    args.linetest->add_option("--out", args.out, "the folder of the reports")->required();
    AddLineTestOptions(args.linetest, args.lineTest, false);
    for (CLI::App* command : {args.status, args.save, args.verify, args.backup})
        AddCampaignOptions(command, args);
    args.deadlineOption = AddCampaignOptions(args.linetest, args);
    return fleet;
}

int RunFleet(const FleetArguments& args, const GlobalOptions& options, const Streams& streams,
             Interruption& interruption) {
    CliSession session(streams.err, options.answerTimeoutMs,
                       options.retries); // never opened: no board traffic
    const Context ctx(options, streams, session);
    fleet::Inventory inventory;
    fleet::InventoryError error;
    if (!fleet::ReadInventory(args.inventory, &inventory, &error))
        return ctx.Fail(kExitUsage,
                        fleet::InventoryErrorText(error) +
                            ".\nCorrect the inventory; see tessor-cli(1), fleet.",
                        "bad_inventory");
    std::vector<fleet::Board> boards = inventory.boards;
    std::string why;
    if (args.limitOption->count() > 0 && !fleet::SelectBoards(inventory, args.limit, &boards, &why))
        return ctx.Fail(kExitUsage,
                        why + ".\nName a group or board of the inventory (tessor-cli fleet list shows them).",
                        "bad_limit");
    if (args.list->parsed())
        return RunList(ctx, inventory, boards);
    if (args.backup->parsed())
        return RunBackup(args, options, streams, boards, interruption);
    // Every criteria file a line test would use is read before any board is opened: one that cannot be
    // used ends the campaign as it ends the single-board command.
    if (args.linetest->parsed()) {
        std::vector<std::string> files;
        for (const fleet::Board& board : boards)
            files.push_back(board.criteria.value_or(args.lineTest.criteriaFile));
        std::sort(files.begin(), files.end());
        files.erase(std::unique(files.begin(), files.end()), files.end());
        for (const std::string& file : files) {
            linetest::Criteria criteria;
            if (const int code = ApplyLineTestCriteria(ctx, args.lineTest, file, &criteria); code != kExitOk)
                return code;
        }
    }
    return RunCampaign(args, options, streams, boards, interruption);
}

} // namespace tessor::cli
