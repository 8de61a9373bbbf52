#include "link/PlainFile.h"

#include <cerrno>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <vector>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tessor {

#ifdef _WIN32

int CreatePlainFile(const std::string& path, int* error) {
    // The local 8-bit path in the active code page, widened so that every name the system allows works.
    const int wide = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (wide <= 0) {
        *error = ENOENT;
        return -1;
    }
    std::vector<wchar_t> name(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, name.data(), wide);
    const int fd = ::_wopen(name.data(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                            _S_IREAD | _S_IWRITE);
    *error = fd < 0 ? errno : 0;
    return fd;
}

bool WritePlainFile(int fd, const char* data, std::size_t len, int* error) {
    std::size_t done = 0;
    while (done < len) {
        const int n = ::_write(fd, data + done, static_cast<unsigned>(len - done));
        if (n < 0) {
            *error = errno;
            return false;
        }
        if (n == 0) {
            *error = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void ClosePlainFile(int fd) {
    if (fd >= 0)
        ::_close(fd);
}

#else

int CreatePlainFile(const std::string& path, int* error) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd < 0 && errno == EINTR);
    *error = fd < 0 ? errno : 0;
    return fd;
}

bool WritePlainFile(int fd, const char* data, std::size_t len, int* error) {
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = ::write(fd, data + done, len - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        if (n == 0) {
            *error = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void ClosePlainFile(int fd) {
    if (fd >= 0)
        ::close(fd);
}

#endif

} // namespace tessor
