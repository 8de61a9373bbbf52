// The POSIX devices' write loop against scripted system calls: what it retries, what it waits out and
// what ends it.

#include "link/WriteLoop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace tessor {
namespace {

// One scripted attempt: what it returns and the errno it leaves.
struct Step {
    ssize_t returned;
    int error;
};

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fds, O_NONBLOCK), 0); }
    ~Pipe() {
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
};

TEST(WriteLoop, RetriesWaitsAndEndsAsTheSystemSays) {
    const struct Row {
        const char* what;
        std::vector<Step> steps;
        bool readerGone; // the polled pipe has no reader: POLLERR while waiting for room
        bool hangUpOnPollError;
        IoResult::Status status;
        int errorCode;
        std::size_t count;
        std::vector<std::size_t> offered; // the length each attempt was given
    } rows[] = {
        {"partial writes go on", {{3, 0}, {1, 0}, {1, 0}}, false, false, IoResult::Ok, 0, 5, {5, 2, 1}},
        {"interrupted: again", {{-1, EINTR}, {5, 0}}, false, false, IoResult::Ok, 0, 5, {5, 5}},
        {"full buffer waited", {{2, 0}, {-1, EAGAIN}, {3, 0}}, false, false, IoResult::Ok, 0, 5, {5, 3, 3}},
        {"failure: the device's", {{2, 0}, {-1, EPIPE}}, false, false, IoResult::Error, EPIPE, 2, {5, 3}},
        {"nothing written: the device's", {{0, 0}}, false, false, IoResult::Error, 0, 0, {5}},
        {"hang-up while waiting", {{-1, EAGAIN}}, true, true, IoResult::HungUp, EIO, 0, {5}},
        {"hang-up not minded", {{-1, EAGAIN}, {5, 0}}, true, false, IoResult::Ok, 0, 5, {5, 5}},
    };
    const std::uint8_t data[5] = {'r', 'd', ' ', '8', 'c'};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Pipe room;
        Pipe wake;
        if (row.readerGone) {
            ::close(room.fds[0]);
            room.fds[0] = -1;
        }
        std::atomic<bool> interrupted{false};
        std::size_t next = 0;
        std::vector<std::size_t> offered;
        WriteLoop loop;
        loop.fd = room.fds[1];
        loop.wakeFd = wake.fds[0];
        loop.interrupted = &interrupted;
        loop.hangUpOnPollError = row.hangUpOnPollError;
        loop.attempt = [&](const std::uint8_t* bytes, std::size_t n) -> ssize_t {
            EXPECT_EQ(bytes + n, data + sizeof data) << "each attempt offers the rest";
            offered.push_back(n);
            if (next >= row.steps.size()) {
                ADD_FAILURE() << "an attempt too many";
                return -1;
            }
            errno = row.steps[next].error;
            return row.steps[next++].returned;
        };
        loop.failure = [](ssize_t, int error, std::size_t done) -> IoResult {
            return {IoResult::Error, error, done};
        };
        const IoResult result = WriteAll(loop, data, sizeof data);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.errorCode, row.errorCode);
        EXPECT_EQ(result.count, row.count);
        EXPECT_EQ(offered, row.offered);
    }
}

TEST(WriteLoop, AnInterruptedDeviceWritesNothingMore) {
    Pipe room;
    std::atomic<bool> interrupted{true};
    int attempts = 0;
    WriteLoop loop;
    loop.fd = room.fds[1];
    loop.wakeFd = room.fds[0];
    loop.interrupted = &interrupted;
    loop.attempt = [&](const std::uint8_t*, std::size_t n) -> ssize_t {
        ++attempts;
        return static_cast<ssize_t>(n);
    };
    loop.failure = [](ssize_t, int, std::size_t done) -> IoResult { return {IoResult::Error, 0, done}; };
    const std::uint8_t data[2] = {'\r', '\n'};
    const IoResult result = WriteAll(loop, data, sizeof data);
    EXPECT_EQ(result.status, IoResult::Interrupted);
    EXPECT_EQ(result.count, 0u);
    EXPECT_EQ(attempts, 0);
}

} // namespace
} // namespace tessor
