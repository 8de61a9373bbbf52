#include "link/WriteLoop.h"

#include <cerrno>
#include <poll.h>

namespace tessor {

IoResult WriteAll(const WriteLoop& loop, const std::uint8_t* data, std::size_t len) {
    std::size_t done = 0;
    while (done < len) {
        if (loop.interrupted->load())
            return {IoResult::Interrupted, 0, done};
        const ssize_t n = loop.attempt(data + done, len - done);
        const int error = n < 0 ? errno : 0;
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && error == EINTR)
            continue;
        if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            pollfd p[2] = {{loop.fd, POLLOUT, 0}, {loop.wakeFd, POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 && errno != EINTR)
                return {IoResult::Error, errno, done};
            if (loop.hangUpOnPollError && (p[0].revents & (POLLHUP | POLLERR)))
                return {IoResult::HungUp, EIO, done};
            continue;
        }
        return loop.failure(n, error, done);
    }
    return {IoResult::Ok, 0, done};
}

} // namespace tessor
