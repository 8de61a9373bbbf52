#include "files/PlainFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace tessor::test {
namespace {

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TEMP");
    return std::string(dir ? dir : ".") + "\\tessor-" + std::to_string(CurrentProcessId()) + "-" + name;
}

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

TEST(Win32PlainFile, WritesBytesAsTheyAreAndReplacesAnExistingFile) {
    const std::string target = TempPath("target.LT");
    const std::string temp = TempPath("target.LT.tmp");
    std::ofstream(target, std::ios::binary) << "old";
    int error = 0;
    const int fd = CreateNewPlainFile(temp, &error);
    ASSERT_GE(fd, 0) << error;
    EXPECT_LT(CreateNewPlainFile(temp, &error), 0) << "the file exists already";
    const std::string bytes = "8C10 32\r\n8C11 24\n";
    ASSERT_TRUE(WritePlainFile(fd, bytes.data(), bytes.size(), &error)) << error;
    ASSERT_TRUE(SyncAndClosePlainFile(fd, &error)) << error;
    // Windows' own rename refuses an existing target; a save over an old file must still succeed.
    ASSERT_TRUE(ReplacePlainFile(temp, target, &error)) << error;
    EXPECT_EQ(Contents(target), bytes) << "no line end translation";
    EXPECT_FALSE(RemovePlainFile(temp));
    EXPECT_TRUE(RemovePlainFile(target));
}

TEST(Win32PlainFile, DevicesAreNoLogFiles) {
    int error = 0;
    EXPECT_LT(CreateRegularPlainFile("NUL", &error), 0);
    EXPECT_EQ(error, kPlainFileNotRegular);
    const std::string log = TempPath("terminal.log");
    const int fd = CreateRegularPlainFile(log, &error);
    ASSERT_GE(fd, 0) << error;
    ClosePlainFile(fd);
    EXPECT_TRUE(RemovePlainFile(log));
}

TEST(Win32PlainFile, ContentsAreReplacedWholeAndDevicesRefusedForReadingAndAppending) {
    const std::string target = TempPath("export.csv");
    std::ofstream(target, std::ios::binary) << "old";
    int error = 0;
    ASSERT_TRUE(ReplacePlainFileContents(target, "new\n", 4, &error)) << error;
    EXPECT_EQ(Contents(target), "new\n");
    EXPECT_FALSE(ReplacePlainFileContents("NUL", "x", 1, &error));
    EXPECT_EQ(error, kPlainFileNotRegular);
    EXPECT_LT(OpenRegularPlainFile("NUL", PlainFileUse::Read, &error), 0);
    EXPECT_EQ(error, kPlainFileNotRegular);
    const int fd = OpenRegularPlainFile(target, PlainFileUse::Append, &error);
    ASSERT_GE(fd, 0) << error;
    ASSERT_TRUE(WritePlainFile(fd, "more", 4, &error)) << error;
    char tail[4] = {};
    ASSERT_TRUE(ReadPlainFileAt(fd, 4, tail, 4, &error)) << error;
    EXPECT_EQ(std::string(tail, 4), "more");
    EXPECT_EQ(PlainFileSize(fd, &error), 8);
    ClosePlainFile(fd);
    EXPECT_TRUE(RemovePlainFile(target));
}

} // namespace
} // namespace tessor::test
