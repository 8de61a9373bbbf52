#pragma once

// Backups of the fleet's configurations into a git repository: one file per board, DIR/SITE/BOARD.LT (or
// .NT), written whole, and at most one commit per run, made only when a file changed. Its subject counts
// the boards changed, added and failed; its body names each changed board with its differences in the
// words of the pages, the added boards, and the failed boards with their reasons.
//
// The repository is driven through the git program, not a library linked in: a separate program has no
// licence bearing on this one (the library would be GPL-2 with a linking exception), a failure in it
// cannot take this process down, and it honours the repository's own hooks and configuration exactly as
// an operator's git does, so the history looks as if made by hand.

#include "fleet/Inventory.h"
#include "model/ConfigFile.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessor::fleet {

// One board of a campaign run: its configuration as save read it, or why it could not be saved.
struct BackupBoard {
    std::string site;
    std::string name;
    BoardSide side = BoardSide::Lt;
    // The registers of kConfigRegisters, in that order, from a complete read; none when the save failed.
    std::optional<std::array<std::uint8_t, kConfigRegisterCount>> values;
    std::string failure; // why the board was not saved (without values)
};

enum class BackupOutcome {
    Unchanged, // the file holds the same bytes already
    Changed,   // an existing file was replaced
    Added,     // a new file was written
    Failed,    // not saved; its file, if any, is as it was
};

// "unchanged", "changed", "added", "failed".
const char* BackupOutcomeName(BackupOutcome outcome);

struct BoardBackup {
    std::string site;
    std::string name;
    std::string file; // relative to the repository: "SITE/BOARD.LT"
    BackupOutcome outcome = BackupOutcome::Unchanged;
    std::vector<std::string>
        changes;         // Changed: the differences in words ("DS Constellation: QAM 64 -> QAM 16")
    std::string failure; // Failed: the reason
};

struct BackupResult {
    std::vector<BoardBackup> boards; // in the order given
    int changed = 0;
    int added = 0;
    int failed = 0;
    bool committed = false;
    std::string commit;  // the new commit's id, when committed
    std::string subject; // the commit's subject and body, when committed
    std::string body;
};

// Why a run did nothing to the repository.
enum class BackupErrorKind {
    NotAFolder,   // the repository path is a file (or something else that is not a folder)
    CannotCreate, // the folder could not be made
    ReadOnly,     // the folder or its git data cannot be written
    GitMissing,   // the git program could not be started
    GitFailed,    // git ran and failed; the message holds what it said
    Dirty,        // files this run would write hold uncommitted changes
    WriteFailed,  // a board's file could not be written; the files of the run were put back
};

struct BackupError {
    BackupErrorKind kind = BackupErrorKind::GitFailed;
    std::string message; // names the repository (and file) and what to do
};

struct BackupOptions {
    std::string git = "git"; // the program, looked up on PATH unless it holds a '/'
    // The identity for commits in a repository (and for a user) that sets none.
    std::string userName = "tessor-cli";
    std::string userEmail = "tessor-cli@localhost";
    int crystalIndex = 2; // for the words of carriers and line rates (kCrystalFrequenciesHz)
};

// Writes the boards' files into the repository at dir (made, with `git init`, when missing) and commits
// them when any changed. False with *error when the repository cannot be used; then no file of the run is
// left written and nothing is committed. A board without values, or whose site or name cannot be a file
// name, is failed in *result and its file left as it was.
bool BackupToGit(const std::string& dir, const std::vector<BackupBoard>& boards, const BackupOptions& options,
                 BackupResult* result, BackupError* error);

// The subject of a run's commit: "Backup: 2 changed, 1 added, 1 failed".
std::string BackupSubject(int changed, int added, int failed);

} // namespace tessor::fleet
