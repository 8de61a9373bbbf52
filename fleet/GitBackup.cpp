#include "fleet/GitBackup.h"

#include "files/PlainFile.h"
#include "linetest/ConfigCompare.h"
#include "model/ConfigDiff.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tessor::fleet {

namespace {

// What one run of git did: whether it started (the cause when not), its exit status and what it wrote.
struct GitRun {
    bool started = false;
    int startError = 0;
    int status = -1; // the exit code; -1 when it ended by a signal
    std::string out;
    std::string err;
    bool ok() const { return started && status == 0; }
};

// The environment git runs with: the caller's, less what would point it at another repository or index,
// with messages in plain English, no pager, no prompt for credentials, and paths taken literally (a board
// named "a*" is that file, never a pattern).
std::vector<std::string> GitEnvironment() {
    static const char* const kDropped[] = {"GIT_DIR=",
                                           "GIT_WORK_TREE=",
                                           "GIT_INDEX_FILE=",
                                           "GIT_OBJECT_DIRECTORY=",
                                           "GIT_ALTERNATE_OBJECT_DIRECTORIES=",
                                           "GIT_COMMON_DIR=",
                                           "GIT_NAMESPACE=",
                                           "GIT_PREFIX=",
                                           "LANG=",
                                           "LANGUAGE=",
                                           "LC_",
                                           "PAGER=",
                                           "GIT_PAGER="};
    std::vector<std::string> env;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        bool dropped = false;
        for (const char* prefix : kDropped)
            dropped = dropped || text.rfind(prefix, 0) == 0;
        if (!dropped)
            env.emplace_back(text);
    }
    for (const char* fixed : {"LC_ALL=C", "GIT_TERMINAL_PROMPT=0", "GIT_PAGER=cat", "PAGER=cat",
                              "GIT_LITERAL_PATHSPECS=1", "GIT_EDITOR=true"})
        env.emplace_back(fixed);
    return env;
}

// Runs program with args (no shell), standard input from /dev/null, and collects both outputs.
GitRun Spawn(const std::string& program, const std::vector<std::string>& args) {
    GitRun run;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        run.startError = errno;
        return run;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        run.startError = errno;
        close(outPipe[0]);
        close(outPipe[1]);
        return run;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env = GitEnvironment();
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    pid_t pid = -1;
    const int spawned = program.find('/') == std::string::npos
                            ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data())
                            : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        run.startError = spawned;
        close(outPipe[0]);
        close(errPipe[0]);
        return run;
    }
    run.started = true;

    // Both pipes at once, so that a full one never blocks git while the other is read.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0)
            close(fd.fd);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return run;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

// One repository's git: every call in the repository's folder, with the default identity where the
// repository and the user set none.
class Git {
public:
    Git(std::string program, std::string dir) : m_program(std::move(program)), m_dir(std::move(dir)) {}

    void SetIdentity(const std::string& name, const std::string& email) {
        m_identity.clear();
        if (!name.empty())
            m_identity.push_back("user.name=" + name);
        if (!email.empty())
            m_identity.push_back("user.email=" + email);
    }

    GitRun Run(const std::vector<std::string>& args) const {
        std::vector<std::string> all{"--no-pager"};
        for (const std::string& setting : m_identity) {
            all.push_back("-c");
            all.push_back(setting);
        }
        all.push_back("-C");
        all.push_back(m_dir);
        all.insert(all.end(), args.begin(), args.end());
        return Spawn(m_program, all);
    }

    // "DIR: git ARGS failed: what git said."
    std::string Failure(const std::string& what, const GitRun& run) const {
        std::string said = Trimmed(run.err);
        if (said.empty())
            said = run.status < 0 ? "ended by a signal" : "exit status " + std::to_string(run.status);
        return m_dir + ": git " + what + " failed: " + said;
    }

private:
    std::string m_program;
    std::string m_dir;
    std::vector<std::string> m_identity;
};

bool Fail(BackupError* error, BackupErrorKind kind, std::string message) {
    if (error) {
        error->kind = kind;
        error->message = std::move(message);
    }
    return false;
}

// Whether a file can be made in folder (made and removed); the cause in *cause when not.
bool CanWriteIn(const std::string& folder, int* cause) {
    std::string name = folder + "/.tessor-backup-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        *cause = errno;
        return false;
    }
    close(fd);
    unlink(name.c_str());
    return true;
}

// A site or board name that is one plain file name.
bool UsableName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name != ".git";
}

// A board's planned write.
struct Planned {
    std::size_t index = 0; // into result->boards
    std::string path;      // absolute
    std::string bytes;     // the new file
    std::string old;       // the file as it was (Changed)
};

// The differences of a changed board in words, from its file as it was to the new one.
std::vector<std::string> ChangeWords(const std::string& oldBytes, const std::string& newBytes,
                                     int crystalIndex) {
    const linetest::ParsedConfiguration before = linetest::ParseConfiguration(oldBytes);
    if (!before.ok)
        return {"The file before was not a configuration (" + before.message + ")."};
    const linetest::ParsedConfiguration after = linetest::ParseConfiguration(newBytes);
    const ConfigDiff diff =
        DiffConfigurations(linetest::RegisterSet(before), linetest::RegisterSet(after), crystalIndex);
    std::vector<std::string> words;
    for (const ConfigChange& change : diff.changes)
        words.push_back(change.Words());
    if (diff.sidesDiffer)
        words.push_back(diff.SideNote());
    if (words.empty())
        words.push_back("The file was rewritten; its registers hold the same values.");
    return words;
}

std::string CommitBody(const BackupResult& result) {
    std::string body;
    auto section = [&](BackupOutcome outcome, const char* title) {
        bool first = true;
        for (const BoardBackup& board : result.boards) {
            if (board.outcome != outcome)
                continue;
            if (first)
                body += std::string(body.empty() ? "" : "\n") + title + ":\n";
            first = false;
            body += "- " + board.file;
            if (outcome == BackupOutcome::Failed)
                body += ": " + board.failure;
            body += "\n";
            for (const std::string& words : board.changes)
                body += "    " + words + "\n";
        }
    };
    section(BackupOutcome::Changed, "Changed");
    section(BackupOutcome::Added, "Added");
    section(BackupOutcome::Failed, "Failed");
    return body;
}

// Puts the written files back as they were: the changed ones to their old bytes (which the index holds
// too, as the files were clean), the added ones removed from the index and the folder.
void PutBack(const Git& git, const std::vector<Planned>& written, const BackupResult& result, bool staged) {
    std::vector<std::string> restored{"add", "--"}, removed{"rm", "-q", "--cached", "--ignore-unmatch", "--"};
    for (const Planned& plan : written) {
        const BoardBackup& board = result.boards[plan.index];
        if (board.outcome == BackupOutcome::Changed) {
            int cause = 0;
            ReplacePlainFileContents(plan.path, plan.old.data(), plan.old.size(), &cause);
            restored.push_back(board.file);
        } else {
            removed.push_back(board.file);
        }
    }
    if (staged) {
        if (restored.size() > 2)
            git.Run(restored);
        if (removed.size() > 5)
            git.Run(removed);
    }
    for (const Planned& plan : written) {
        if (result.boards[plan.index].outcome == BackupOutcome::Added)
            RemovePlainFile(plan.path);
    }
}

} // namespace

const char* BackupOutcomeName(BackupOutcome outcome) {
    switch (outcome) {
    case BackupOutcome::Unchanged:
        return "unchanged";
    case BackupOutcome::Changed:
        return "changed";
    case BackupOutcome::Added:
        return "added";
    case BackupOutcome::Failed:
        return "failed";
    }
    return "failed";
}

std::string BackupSubject(int changed, int added, int failed) {
    return "Backup: " + std::to_string(changed) + " changed, " + std::to_string(added) + " added, " +
           std::to_string(failed) + " failed";
}

bool BackupToGit(const std::string& dir, const std::vector<BackupBoard>& boards, const BackupOptions& options,
                 BackupResult* result, BackupError* error) {
    *result = BackupResult{};
    const char* const kNothing = " Nothing was written.";

    // git first, so that nothing is made without it.
    Git git(options.git, dir);
    const GitRun version = Spawn(options.git, {"--version"});
    if (!version.started)
        return Fail(error, BackupErrorKind::GitMissing,
                    options.git + ": cannot be started: " + std::strerror(version.startError) +
                        ". Install git (Debian: apt-get install git) or put it on PATH." + kNothing);
    if (!version.ok())
        return Fail(error, BackupErrorKind::GitFailed, git.Failure("--version", version) + "." + kNothing);

    // The folder: made when missing, refused when something else holds its name.
    struct stat info {};
    if (stat(dir.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode))
            return Fail(error, BackupErrorKind::NotAFolder,
                        dir +
                            ": not a folder. Give the folder of the backup repository (it is made when "
                            "missing)." +
                            kNothing);
    } else if (errno == ENOENT) {
        std::error_code made;
        std::filesystem::create_directories(dir, made);
        if (made)
            return Fail(error, BackupErrorKind::CannotCreate,
                        dir + ": cannot be made: " + made.message() + ". Give a folder you may write to." +
                            kNothing);
    } else {
        return Fail(error, BackupErrorKind::CannotCreate,
                    dir + ": cannot be used: " + std::strerror(errno) + "." + kNothing);
    }

    int cause = 0;
    if (!CanWriteIn(dir, &cause))
        return Fail(error, BackupErrorKind::ReadOnly,
                    dir + ": cannot be written: " + std::strerror(cause) +
                        ". Give a repository you may write to." + kNothing);

    // The repository: its own, made here when the folder has none (also inside another work tree, whose
    // history is not the backup's).
    struct stat dotGit {};
    if (lstat((dir + "/.git").c_str(), &dotGit) != 0) {
        const GitRun init = git.Run({"init", "-q"});
        if (!init.ok())
            return Fail(error, BackupErrorKind::GitFailed, git.Failure("init", init) + "." + kNothing);
    }
    const GitRun gitDir = git.Run({"rev-parse", "--absolute-git-dir"});
    if (!gitDir.ok())
        return Fail(error, BackupErrorKind::GitFailed,
                    git.Failure("rev-parse", gitDir) + ". Give a folder that is a git repository or none." +
                        kNothing);
    if (!CanWriteIn(Trimmed(gitDir.out), &cause))
        return Fail(error, BackupErrorKind::ReadOnly,
                    dir + ": its git data " + Trimmed(gitDir.out) + " cannot be written: " +
                        std::strerror(cause) + ". Give a repository you may write to." + kNothing);

    // The identity: the repository's or the user's, else the default.
    const GitRun name = git.Run({"config", "--get", "user.name"});
    const GitRun email = git.Run({"config", "--get", "user.email"});
    git.SetIdentity(name.ok() ? "" : options.userName, email.ok() ? "" : options.userEmail);

    // Each board's file and what becomes of it.
    std::vector<Planned> planned;
    std::map<std::string, std::string> owners; // file -> the board that writes it
    for (const BackupBoard& board : boards) {
        BoardBackup entry;
        entry.site = board.site;
        entry.name = board.name;
        entry.file = board.site + "/" + board.name + (board.side == BoardSide::Nt ? ".NT" : ".LT");
        if (!UsableName(board.site) || !UsableName(board.name)) {
            entry.outcome = BackupOutcome::Failed;
            entry.failure = "its site or name cannot be a file name";
        } else if (!board.values) {
            entry.outcome = BackupOutcome::Failed;
            entry.failure = board.failure.empty() ? "not saved" : board.failure;
        } else if (owners.count(entry.file)) {
            entry.outcome = BackupOutcome::Failed;
            entry.failure = "its file is also board " + owners[entry.file] + "'s";
        } else {
            owners[entry.file] = board.name;
            Planned plan;
            plan.index = result->boards.size();
            plan.path = dir + "/" + entry.file;
            plan.bytes =
                WriteConfigFile(board.side == BoardSide::Nt ? kConfigSideNT : kConfigSideLT, *board.values);
            if (!ReadSmallPlainFile(plan.path, &plan.old, &cause)) {
                if (cause != ENOENT)
                    return Fail(error, BackupErrorKind::WriteFailed,
                                plan.path + ": cannot be read: " + PlainFileErrorText(cause) + "." +
                                    kNothing);
                entry.outcome = BackupOutcome::Added;
                planned.push_back(std::move(plan));
            } else if (plan.old != plan.bytes) {
                entry.outcome = BackupOutcome::Changed;
                entry.changes = ChangeWords(plan.old, plan.bytes, options.crystalIndex);
                planned.push_back(std::move(plan));
            }
        }
        result->changed += entry.outcome == BackupOutcome::Changed;
        result->added += entry.outcome == BackupOutcome::Added;
        result->failed += entry.outcome == BackupOutcome::Failed;
        result->boards.push_back(std::move(entry));
    }

    // Someone else's uncommitted work in these files is never taken into the backup's commit.
    std::vector<std::string> status{"status", "--porcelain", "--untracked-files=all", "--"};
    for (const auto& owned : owners)
        status.push_back(owned.first);
    if (owners.empty())
        return true;
    const GitRun dirty = git.Run(status);
    if (!dirty.ok())
        return Fail(error, BackupErrorKind::GitFailed, git.Failure("status", dirty) + "." + kNothing);
    if (!Trimmed(dirty.out).empty()) {
        std::string files;
        std::size_t start = 0;
        while (start < dirty.out.size()) {
            std::size_t end = dirty.out.find('\n', start);
            if (end == std::string::npos)
                end = dirty.out.size();
            if (end > start + 3)
                files +=
                    std::string(files.empty() ? "" : ", ") + dirty.out.substr(start + 3, end - start - 3);
            start = end + 1;
        }
        return Fail(error, BackupErrorKind::Dirty,
                    dir + ": uncommitted changes in files this backup writes: " + files +
                        ". Commit or discard them first (git -C " + dir + " status)." + kNothing);
    }
    if (planned.empty())
        return true;

    // The files, each whole.
    std::vector<Planned> written;
    for (const Planned& plan : planned) {
        const std::string folder = plan.path.substr(0, plan.path.rfind('/'));
        std::error_code made;
        std::filesystem::create_directories(folder, made);
        if (made || !ReplacePlainFileContents(plan.path, plan.bytes.data(), plan.bytes.size(), &cause)) {
            PutBack(git, written, *result, false);
            return Fail(error, BackupErrorKind::WriteFailed,
                        plan.path + ": cannot be written: " +
                            (made ? made.message() : PlainFileErrorText(cause)) + "." + kNothing);
        }
        written.push_back(plan);
    }

    // One commit of exactly these files; anything else staged stays staged and out of it.
    result->subject = BackupSubject(result->changed, result->added, result->failed);
    result->body = CommitBody(*result);
    std::vector<std::string> add{"add", "--"};
    for (const Planned& plan : written)
        add.push_back(result->boards[plan.index].file);
    const GitRun added = git.Run(add);
    if (!added.ok()) {
        PutBack(git, written, *result, true);
        return Fail(error, BackupErrorKind::GitFailed,
                    git.Failure("add", added) + ". The files were put back; nothing was committed.");
    }
    std::vector<std::string> commit{"commit",        "-q", "--cleanup=whitespace", "-m",
                                    result->subject, "-m", result->body,           "--"};
    commit.insert(commit.end(), add.begin() + 2, add.end());
    const GitRun committed = git.Run(commit);
    if (!committed.ok()) {
        PutBack(git, written, *result, true);
        return Fail(error, BackupErrorKind::GitFailed,
                    git.Failure("commit", committed) + ". The files were put back; nothing was committed.");
    }
    result->committed = true;
    const GitRun head = git.Run({"rev-parse", "HEAD"});
    if (head.ok())
        result->commit = Trimmed(head.out);
    return true;
}

} // namespace tessor::fleet
