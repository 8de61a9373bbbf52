// Backups into git against the real git program: one commit per run and only on a change, the change in the
// pages' words, failed boards and refused repositories leaving the files and the history as they were.
#include "fleet/GitBackup.h"

#include "files/PlainFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/wait.h>

namespace tessor::fleet {
namespace {

namespace fs = std::filesystem;

// A saved LT file: preset "10 M", Ethernet port speed setup 2.
std::array<std::uint8_t, kConfigRegisterCount> Saved() {
    const std::map<std::string, std::uint8_t> bytes{
        {"8C40", 0x32}, {"8C41", 0x24}, {"8C42", 0x4F}, {"8C43", 0x00}, {"8C44", 0xE3}, {"8C45", 0x00},
        {"8C4E", 0x01}, {"8C47", 0xC9}, {"8C48", 0x01}, {"8C49", 0x6F}, {"8C4A", 0x8A}, {"8C4B", 0x4A},
        {"8C4C", 0x92}, {"8C4D", 0x06}, {"8C67", 0x05}, {"8D40", 0x1E}, {"8D41", 0xE1}, {"8D42", 0x00},
        {"8D45", 0xD0}, {"8D46", 0xCD}, {"8D47", 0xBF}, {"8D48", 0x00}, {"8D49", 0x80}};
    std::array<std::uint8_t, kConfigRegisterCount> values{};
    for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
        const auto it = bytes.find(std::string(kConfigRegisters[i]));
        values[i] = it == bytes.end() ? std::uint8_t{0} : it->second;
    }
    return values;
}

// Saved() with the DS carrier's low byte 8C42 at 60: 2.34 MHz instead of 1.92 MHz.
std::array<std::uint8_t, kConfigRegisterCount> OtherCarrier() {
    auto values = Saved();
    values[2] = 0x60;
    return values;
}

BackupBoard Board(const std::string& name, BoardSide side,
                  std::optional<std::array<std::uint8_t, kConfigRegisterCount>> values,
                  std::string failure = {}) {
    return {"north", name, side, values, std::move(failure)};
}

std::string ReadAll(const std::string& path) {
    std::string bytes;
    int error = 0;
    EXPECT_TRUE(ReadSmallPlainFile(path, &bytes, &error)) << path << ": " << PlainFileErrorText(error);
    return bytes;
}

class GitBackupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // No configuration of the machine or of whoever runs the tests: the repository's identity is the
        // backup's default.
        static const std::string home =
            fs::temp_directory_path() / ("tessor-git-home-" + std::to_string(getpid()));
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
    }

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tessor-backup-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        m_repo = m_root + "/backups";
    }
    void TearDown() override { fs::remove_all(m_root); }

    // git in the repository (a shell is fine here, the paths are the test's own); its output, and its
    // exit status in *status.
    std::string Git(const std::string& args, int* status = nullptr) const {
        const std::string command = "git -C '" + m_repo + "' " + args + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        std::size_t n;
        while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        const int code = pipe ? pclose(pipe) : -1;
        if (status)
            *status = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
        return out;
    }

    int Commits() const { return std::atoi(Git("rev-list --count HEAD").c_str()); }

    void ExpectFsckClean() const {
        int status = -1;
        const std::string said = Git("fsck --strict --no-dangling", &status);
        EXPECT_EQ(status, 0) << said;
    }

    BackupResult Run(const std::vector<BackupBoard>& boards) const {
        BackupResult result;
        BackupError error;
        EXPECT_TRUE(BackupToGit(m_repo, boards, {}, &result, &error)) << error.message;
        return result;
    }

    BackupError Refused(const std::vector<BackupBoard>& boards, const BackupOptions& options = {}) const {
        BackupResult result;
        BackupError error;
        EXPECT_FALSE(BackupToGit(m_repo, boards, options, &result, &error));
        return error;
    }

    std::string m_root;
    std::string m_repo;
};

TEST_F(GitBackupTest, TwoRunsWithoutChangeMakeOneCommit) {
    const std::vector<BackupBoard> boards{Board("a", BoardSide::Lt, Saved()),
                                          Board("b", BoardSide::Nt, Saved())};
    const BackupResult first = Run(boards);
    EXPECT_TRUE(first.committed);
    EXPECT_EQ(first.subject, "Backup: 0 changed, 2 added, 0 failed");
    EXPECT_EQ(first.body, "Added:\n- north/a.LT\n- north/b.NT\n");
    EXPECT_EQ(ReadAll(m_repo + "/north/a.LT"), WriteConfigFile(kConfigSideLT, Saved()));
    EXPECT_EQ(ReadAll(m_repo + "/north/b.NT"), WriteConfigFile(kConfigSideNT, Saved()));
    EXPECT_EQ(Git("log -1 --format=%an"), "tessor-cli\n");
    EXPECT_EQ(Git("rev-parse HEAD"), first.commit + "\n");

    const BackupResult second = Run(boards);
    EXPECT_FALSE(second.committed);
    ASSERT_EQ(second.boards.size(), 2u);
    EXPECT_EQ(second.boards[0].outcome, BackupOutcome::Unchanged);
    EXPECT_EQ(second.boards[1].outcome, BackupOutcome::Unchanged);
    EXPECT_EQ(Commits(), 1);
    EXPECT_EQ(Git("status --porcelain"), "");
}

TEST_F(GitBackupTest, OneBoardChangedMakesASecondCommitInWords) {
    Run({Board("a", BoardSide::Lt, Saved()), Board("b", BoardSide::Nt, Saved())});
    const BackupResult second =
        Run({Board("a", BoardSide::Lt, OtherCarrier()), Board("b", BoardSide::Nt, Saved())});
    EXPECT_TRUE(second.committed);
    EXPECT_EQ(second.boards[0].outcome, BackupOutcome::Changed);
    EXPECT_EQ(Commits(), 2);
    EXPECT_EQ(Git("log -1 --format=%B"), "Backup: 1 changed, 0 added, 0 failed\n"
                                         "\n"
                                         "Changed:\n"
                                         "- north/a.LT\n"
                                         "    DS Carrier Frequency: 1.92 MHz -> 2.34 MHz\n"
                                         "    Standard Settings: 10 M -> none\n\n");
    EXPECT_EQ(Git("diff --name-only HEAD~1 HEAD"), "north/a.LT\n");
    ExpectFsckClean();
}

TEST_F(GitBackupTest, BoardFailingHalfWayLeavesItsFileAndTheHistory) {
    Run({Board("a", BoardSide::Lt, Saved()), Board("b", BoardSide::Nt, Saved())});
    const std::string before = ReadAll(m_repo + "/north/a.LT");

    // a fails after a garbled reply while b changes: only b goes into the commit, a is named as failed.
    const BackupResult second = Run({Board("a", BoardSide::Lt, std::nullopt, "garbled reply reading 8C4B"),
                                     Board("b", BoardSide::Nt, OtherCarrier())});
    EXPECT_TRUE(second.committed);
    EXPECT_EQ(second.subject, "Backup: 1 changed, 0 added, 1 failed");
    EXPECT_NE(second.body.find("Failed:\n- north/a.LT: garbled reply reading 8C4B\n"), std::string::npos)
        << second.body;
    EXPECT_EQ(ReadAll(m_repo + "/north/a.LT"), before);
    EXPECT_EQ(Git("diff --name-only HEAD~1 HEAD"), "north/b.NT\n");

    // Only the failure: no commit at all.
    const std::string head = Git("rev-parse HEAD");
    const BackupResult third = Run({Board("a", BoardSide::Lt, std::nullopt, "no reply")});
    EXPECT_FALSE(third.committed);
    EXPECT_EQ(third.failed, 1);
    EXPECT_EQ(Git("rev-parse HEAD"), head);
    EXPECT_EQ(ReadAll(m_repo + "/north/a.LT"), before);
    EXPECT_EQ(Git("status --porcelain"), "");
    ExpectFsckClean();
}

TEST_F(GitBackupTest, NameThatIsNoFileNameFailsThatBoardOnly) {
    const BackupResult result = Run({Board("..", BoardSide::Lt, Saved()), Board("a", BoardSide::Lt, Saved()),
                                     Board("a", BoardSide::Lt, OtherCarrier())});
    EXPECT_EQ(result.subject, "Backup: 0 changed, 1 added, 2 failed");
    EXPECT_EQ(result.boards[0].failure, "its site or name cannot be a file name");
    EXPECT_EQ(result.boards[2].failure, "its file is also board a's");
    EXPECT_EQ(ReadAll(m_repo + "/north/a.LT"), WriteConfigFile(kConfigSideLT, Saved()));
    EXPECT_FALSE(fs::exists(m_repo + "/north/...LT"));
}

TEST_F(GitBackupTest, UncommittedChangeInABoardsFileIsRefused) {
    Run({Board("a", BoardSide::Lt, Saved())});
    std::ofstream(m_repo + "/north/a.LT", std::ios::app) << "\r\n8C99:00";
    const std::string edited = ReadAll(m_repo + "/north/a.LT");

    const BackupError error = Refused({Board("a", BoardSide::Lt, OtherCarrier())});
    EXPECT_EQ(error.kind, BackupErrorKind::Dirty);
    EXPECT_NE(error.message.find("uncommitted changes in files this backup writes: north/a.LT."),
              std::string::npos)
        << error.message;
    EXPECT_EQ(ReadAll(m_repo + "/north/a.LT"), edited);
    EXPECT_EQ(Commits(), 1);

    // A new file someone left where a board's file goes is refused the same way.
    fs::create_directories(m_repo + "/south");
    std::ofstream(m_repo + "/south/c.NT") << "notes";
    const BackupError untracked = Refused({BackupBoard{"south", "c", BoardSide::Nt, Saved(), {}}});
    EXPECT_EQ(untracked.kind, BackupErrorKind::Dirty);
    EXPECT_EQ(ReadAll(m_repo + "/south/c.NT"), "notes");
}

TEST_F(GitBackupTest, OtherStagedWorkStaysOutOfTheCommit) {
    Run({Board("a", BoardSide::Lt, Saved())});
    std::ofstream(m_repo + "/README") << "fleet backups\n";
    Git("add README");
    Run({Board("a", BoardSide::Lt, OtherCarrier())});
    EXPECT_EQ(Git("diff --name-only HEAD~1 HEAD"), "north/a.LT\n");
    EXPECT_EQ(Git("status --porcelain"), "A  README\n");
}

TEST_F(GitBackupTest, CommitRefusedByAHookPutsTheFilesBack) {
    Run({Board("a", BoardSide::Lt, Saved())});
    const std::string hook = m_repo + "/.git/hooks/pre-commit";
    std::ofstream(hook) << "#!/bin/sh\necho 'backups are frozen' >&2\nexit 1\n";
    fs::permissions(hook, fs::perms::owner_all);

    const BackupError error =
        Refused({Board("a", BoardSide::Lt, OtherCarrier()), Board("b", BoardSide::Nt, Saved())});
    EXPECT_EQ(error.kind, BackupErrorKind::GitFailed);
    EXPECT_NE(error.message.find("git commit failed: backups are frozen. The files were put back"),
              std::string::npos)
        << error.message;
    EXPECT_EQ(ReadAll(m_repo + "/north/a.LT"), WriteConfigFile(kConfigSideLT, Saved()));
    EXPECT_FALSE(fs::exists(m_repo + "/north/b.NT"));
    EXPECT_EQ(Git("status --porcelain"), "");
    EXPECT_EQ(Commits(), 1);
    ExpectFsckClean();
}

TEST_F(GitBackupTest, FileThatCannotBeWrittenPutsTheRunsFilesBack) {
    Run({BackupBoard{"east", "a", BoardSide::Lt, Saved(), {}}});
    // The site's folder cannot be made: a link to nowhere holds its name (the file is read as missing).
    fs::create_symlink(m_root + "/nowhere", m_repo + "/north");

    const BackupError error = Refused(
        {BackupBoard{"east", "a", BoardSide::Lt, OtherCarrier(), {}}, Board("b", BoardSide::Lt, Saved())});
    EXPECT_EQ(error.kind, BackupErrorKind::WriteFailed);
    EXPECT_NE(error.message.find(m_repo + "/north/b.LT: cannot be written: "), std::string::npos)
        << error.message;
    EXPECT_EQ(ReadAll(m_repo + "/east/a.LT"), WriteConfigFile(kConfigSideLT, Saved()));
    EXPECT_EQ(Git("status --porcelain"), "?? north\n");
    EXPECT_EQ(Commits(), 1);
}

TEST_F(GitBackupTest, PathThatIsAFileIsRefused) {
    std::ofstream(m_repo) << "not a folder";
    const BackupError error = Refused({Board("a", BoardSide::Lt, Saved())});
    EXPECT_EQ(error.kind, BackupErrorKind::NotAFolder);
    EXPECT_EQ(error.message, m_repo +
                                 ": not a folder. Give the folder of the backup repository (it is made when "
                                 "missing). Nothing was written.");
    EXPECT_EQ(ReadAll(m_repo), "not a folder");
}

TEST_F(GitBackupTest, MissingOrFailingGitIsRefused) {
    struct Case {
        const char* git;
        BackupErrorKind kind;
        const char* said;
    };
    for (const Case& c : {Case{"/nonexistent/git", BackupErrorKind::GitMissing,
                               "/nonexistent/git: cannot be started: No such file or directory. Install git"},
                          Case{"false", BackupErrorKind::GitFailed, "git --version failed: exit status 1"}}) {
        BackupOptions options;
        options.git = c.git;
        const BackupError error = Refused({Board("a", BoardSide::Lt, Saved())}, options);
        EXPECT_EQ(error.kind, c.kind) << c.git;
        EXPECT_NE(error.message.find(c.said), std::string::npos) << error.message;
        EXPECT_FALSE(fs::exists(m_repo)) << c.git;
    }
}

} // namespace
} // namespace tessor::fleet
