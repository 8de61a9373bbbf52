// The one writer and the one reader of the tool's files: what each takes, what each refuses without
// waiting for it, and what is left on the disk after a failure.

#include "files/PlainFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace tessor {
namespace {

class PlainFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tessor-plainfile.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string Path(const std::string& name) const { return dir + "/" + name; }

    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static bool Replace(const std::string& path, const std::string& bytes, int* error) {
        return ReplacePlainFileContents(path, bytes.data(), bytes.size(), error);
    }
    // Names in the folder other than the ones given: a temporary file left behind shows here.
    std::string Listing() const {
        std::string out;
        const std::string command = "ls -A '" + dir + "'";
        FILE* ls = popen(command.c_str(), "r");
        char line[512];
        while (ls && fgets(line, sizeof line, ls))
            out += line;
        if (ls)
            pclose(ls);
        return out;
    }
    // A socket bound in the folder; the descriptor stays open until the test ends.
    int BindSocket(const std::string& path) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }
    // A node like /dev/null inside the folder (the superuser may make one); else /dev/null itself.
    std::string NullDevice() {
        const std::string node = Path("null");
        return mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 ? node : "/dev/null";
    }

    std::string dir;
};

TEST_F(PlainFileTest, TheWriterReplacesRegularFilesAndWritesThroughLinks) {
    int error = 0;
    // A regular file: replaced whole, its mode kept.
    Put(Path("a.LT"), "old");
    ASSERT_EQ(chmod(Path("a.LT").c_str(), 0640), 0);
    ASSERT_TRUE(Replace(Path("a.LT"), "new contents", &error)) << error;
    EXPECT_EQ(Contents(Path("a.LT")), "new contents");
    struct stat st {};
    ASSERT_EQ(stat(Path("a.LT").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A link: its target is replaced (relative to the link's folder), the link stays a link.
    ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
    Put(Path("sub/target.LT"), "old");
    ASSERT_EQ(symlink("sub/target.LT", Path("link.LT").c_str()), 0);
    ASSERT_TRUE(Replace(Path("link.LT"), "through", &error)) << error;
    EXPECT_EQ(Contents(Path("sub/target.LT")), "through");
    ASSERT_EQ(lstat(Path("link.LT").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A dangling link whose target's folder exists: the target is created, the link stays.
    ASSERT_EQ(symlink("sub/new.LT", Path("dangling.LT").c_str()), 0);
    ASSERT_TRUE(Replace(Path("dangling.LT"), "created", &error)) << error;
    EXPECT_EQ(Contents(Path("sub/new.LT")), "created");
    ASSERT_EQ(lstat(Path("dangling.LT").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A dangling link into a folder that does not exist: refused, nothing created.
    ASSERT_EQ(symlink("nowhere/x.LT", Path("lost.LT").c_str()), 0);
    EXPECT_FALSE(Replace(Path("lost.LT"), "x", &error));
    EXPECT_EQ(error, ENOENT);
    ASSERT_EQ(lstat(Path("lost.LT").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Listing(), "a.LT\ndangling.LT\nlink.LT\nlost.LT\nsub\n");
}

TEST_F(PlainFileTest, TheWriterRefusesPipesDevicesAndSocketsWithoutWaiting) {
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
    const int socketFd = BindSocket(Path("sock"));
    const std::string device = NullDevice();
    ASSERT_EQ(symlink("fifo", Path("to-fifo").c_str()), 0);
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
    struct Row {
        std::string path;
        int cause;
        mode_t type;
    };
    const Row rows[] = {{Path("fifo"), kPlainFileNotRegular, S_IFIFO},
                        {Path("sock"), kPlainFileNotRegular, S_IFSOCK},
                        {device, kPlainFileNotRegular, S_IFCHR},
                        {Path("to-fifo"), kPlainFileNotRegular, S_IFLNK},
                        {Path("folder"), EISDIR, S_IFDIR}};
    alarm(10); // a writer that waits for a reader ends the test program instead of hanging it
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        int error = 0;
        EXPECT_FALSE(Replace(row.path, "x", &error));
        EXPECT_EQ(error, row.cause);
        EXPECT_FALSE(CanReplacePlainFile(row.path, &error));
        EXPECT_EQ(error, row.cause);
        struct stat st {};
        ASSERT_EQ(lstat(row.path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, row.type) << "left as it was";
    }
    alarm(0);
    close(socketFd);
}

TEST_F(PlainFileTest, AFailedWriteLeavesTheOldFileWholeAndNothingBesideIt) {
    Put(Path("keep.LT"), "the old file");
    // A file size limit makes the write fail part way, as a full disk does.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 4;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int error = 0;
    const bool written = Replace(Path("keep.LT"), std::string(100, 'x'), &error);
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(Contents(Path("keep.LT")), "the old file");
    EXPECT_EQ(Listing(), "keep.LT\n");

    // The check before a long job changes nothing either.
    EXPECT_TRUE(CanReplacePlainFile(Path("keep.LT"), &error));
    EXPECT_TRUE(CanReplacePlainFile(Path("new.LT"), &error));
    EXPECT_FALSE(CanReplacePlainFile(Path("no-folder/new.LT"), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(Listing(), "keep.LT\n");
}

TEST_F(PlainFileTest, TheReaderTakesOnlySmallRegularFiles) {
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
    Put(Path("good.LT"), "LT\r\n8C40:32");
    const int socketFd = BindSocket(Path("sock"));
    // At the limit, and one byte over it (sparse files: nothing is written).
    const auto sized = [this](const std::string& name, off_t size) {
        const int fd = open(Path(name).c_str(), O_CREAT | O_WRONLY, 0644);
        EXPECT_EQ(ftruncate(fd, size), 0);
        close(fd);
        return Path(name);
    };
    const std::string atLimit = sized("limit", kSmallFileLimit);
    const std::string overLimit = sized("over", kSmallFileLimit + 1);
    struct Row {
        std::string path;
        int cause;
        std::size_t size;
    };
    const Row rows[] = {{Path("good.LT"), 0, 11},
                        {atLimit, 0, static_cast<std::size_t>(kSmallFileLimit)},
                        {overLimit, kPlainFileTooLarge, 0},
                        {Path("fifo"), kPlainFileNotRegular, 0},
                        {Path("sock"), kPlainFileNotRegular, 0},
                        {"/dev/zero", kPlainFileNotRegular, 0},
                        {Path("folder"), EISDIR, 0},
                        {Path("missing"), ENOENT, 0}};
    alarm(10);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        std::string bytes;
        int error = -99;
        EXPECT_EQ(ReadSmallPlainFile(row.path, &bytes, &error), row.cause == 0);
        EXPECT_EQ(error, row.cause);
        EXPECT_EQ(bytes.size(), row.size);
    }
    alarm(0);
    close(socketFd);
    EXPECT_EQ(PlainFileErrorText(kPlainFileTooLarge), "larger than 1 MiB, more than such a file can hold");
    EXPECT_EQ(PlainFileErrorText(kPlainFileNotRegular), "not a regular file (a pipe, a device or a socket)");
    EXPECT_EQ(PlainFileErrorText(ENOENT), "No such file or directory");
}

TEST_F(PlainFileTest, AnExclusiveLockKeepsASecondWriterOut) {
    int error = 0;
    const int first = OpenRegularPlainFile(Path("rec.csv"), PlainFileUse::Append, &error);
    ASSERT_GE(first, 0);
    EXPECT_TRUE(LockPlainFile(first, &error)) << error;
    const int second = OpenRegularPlainFile(Path("rec.csv"), PlainFileUse::Append, &error);
    ASSERT_GE(second, 0);
    EXPECT_FALSE(LockPlainFile(second, &error));
    EXPECT_EQ(error, kPlainFileLocked);
    ClosePlainFile(first);
    EXPECT_TRUE(LockPlainFile(second, &error)) << "free once the first is closed";
    ClosePlainFile(second);
}

TEST_F(PlainFileTest, OneFileUnderTwoNamesHasOneIdentity) {
    Put(Path("a.csv"), "x");
    ASSERT_EQ(symlink("a.csv", Path("b.csv").c_str()), 0);
    ASSERT_EQ(link(Path("a.csv").c_str(), Path("hard.csv").c_str()), 0);
    ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
    const std::string a = PlainFileIdentity(Path("a.csv"));
    EXPECT_EQ(PlainFileIdentity(Path("b.csv")), a);
    EXPECT_EQ(PlainFileIdentity(Path("hard.csv")), a);
    EXPECT_EQ(PlainFileIdentity(Path("sub/../a.csv")), a);
    // Files not made yet: the same folder and name.
    EXPECT_EQ(PlainFileIdentity(Path("new.csv")), PlainFileIdentity(Path("./new.csv")));
    EXPECT_EQ(PlainFileIdentity(Path("sub/../new.csv")), PlainFileIdentity(Path("new.csv")));
    EXPECT_NE(PlainFileIdentity(Path("new.csv")), PlainFileIdentity(Path("other.csv")));
    EXPECT_NE(PlainFileIdentity(Path("new.csv")), a);
    // A symbolic link to a file not made yet names the file it will create: relative to the link's folder,
    // absolute, or through another such link.
    ASSERT_EQ(symlink("new.csv", Path("to-new.csv").c_str()), 0);
    ASSERT_EQ(symlink(Path("new.csv").c_str(), Path("sub/abs-new.csv").c_str()), 0);
    ASSERT_EQ(symlink("../to-new.csv", Path("sub/chain.csv").c_str()), 0);
    ASSERT_EQ(symlink("new.csv", Path("sub/other-new.csv").c_str()), 0);
    ASSERT_EQ(symlink("loop.csv", Path("loop.csv").c_str()), 0);
    const std::string created = PlainFileIdentity(Path("new.csv"));
    EXPECT_EQ(PlainFileIdentity(Path("to-new.csv")), created);
    EXPECT_EQ(PlainFileIdentity(Path("sub/abs-new.csv")), created);
    EXPECT_EQ(PlainFileIdentity(Path("sub/chain.csv")), created);
    EXPECT_EQ(PlainFileIdentity(Path("sub/other-new.csv")), PlainFileIdentity(Path("sub/new.csv")));
    EXPECT_NE(PlainFileIdentity(Path("sub/other-new.csv")), created);
    EXPECT_NE(PlainFileIdentity(Path("loop.csv")), created); // ends, names no other file
}

} // namespace
} // namespace tessor
