#include "link/PlainFile.h"

#include <cerrno>
#include <fcntl.h>

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <vector>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tessor {

#ifdef _WIN32

namespace {

// The local 8-bit path in the active code page, widened so that every name the system allows works.
std::wstring WidePath(const std::string& path) {
    const int wide = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (wide <= 0)
        return std::wstring();
    std::vector<wchar_t> name(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, name.data(), wide);
    return std::wstring(name.data());
}

int OpenForWriting(const std::string& path, int flags, int* error) {
    const std::wstring name = WidePath(path);
    if (name.empty()) {
        *error = ENOENT;
        return -1;
    }
    const int fd =
        ::_wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT | flags, _S_IREAD | _S_IWRITE);
    *error = fd < 0 ? errno : 0;
    return fd;
}

int ErrnoOf(DWORD err) {
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

} // namespace

int CreatePlainFile(const std::string& path, int* error) {
    return OpenForWriting(path, _O_TRUNC, error);
}

int CreateNewPlainFile(const std::string& path, int* error) {
    return OpenForWriting(path, _O_EXCL, error);
}

int CreateRegularPlainFile(const std::string& path, int* error) {
    // Device names (COM1, NUL, CON) and pipes open at once on Windows; what was opened is checked.
    const int fd = OpenForWriting(path, _O_TRUNC, error);
    if (fd >= 0 && ::GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(fd))) != FILE_TYPE_DISK) {
        ::_close(fd);
        *error = kPlainFileNotRegular;
        return -1;
    }
    return fd;
}

bool SyncAndClosePlainFile(int fd, int* error) {
    const bool synced = ::_commit(fd) == 0;
    *error = synced ? 0 : errno;
    if (::_close(fd) != 0 && synced) {
        *error = errno;
        return false;
    }
    return synced;
}

bool ReplacePlainFile(const std::string& from, const std::string& to, int* error) {
    if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = 0;
        return true;
    }
    *error = ErrnoOf(::GetLastError());
    return false;
}

bool RemovePlainFile(const std::string& path) {
    return ::_wunlink(WidePath(path).c_str()) == 0;
}

long CurrentProcessId() {
    return ::_getpid();
}

bool StandardInputIsTerminal() {
    return ::_isatty(::_fileno(stdin)) != 0;
}

bool StandardErrorIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

static long WriteSomePlain(int fd, const char* data, std::size_t len) {
    return ::_write(fd, data, static_cast<unsigned>(len));
}

void ClosePlainFile(int fd) {
    if (fd >= 0)
        ::_close(fd);
}

#else

namespace {

int OpenForWriting(const std::string& path, int flags, int* error) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | flags, 0666);
    } while (fd < 0 && errno == EINTR);
    *error = fd < 0 ? errno : 0;
    return fd;
}

} // namespace

int CreatePlainFile(const std::string& path, int* error) {
    return OpenForWriting(path, O_TRUNC, error);
}

int CreateNewPlainFile(const std::string& path, int* error) {
    return OpenForWriting(path, O_EXCL, error);
}

int CreateRegularPlainFile(const std::string& path, int* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 &&
        (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISSOCK(st.st_mode))) {
        *error = kPlainFileNotRegular;
        return -1;
    }
    // Non-blocking, so that a pipe that took the name's place meanwhile does not wait for a reader.
    const int fd = OpenForWriting(path, O_TRUNC | O_NONBLOCK, error);
    if (fd < 0) {
        if (*error == ENXIO) // a pipe without reader
            *error = kPlainFileNotRegular;
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = kPlainFileNotRegular;
        return -1;
    }
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *error = 0;
    return fd;
}

bool SyncAndClosePlainFile(int fd, int* error) {
    const bool synced = ::fsync(fd) == 0;
    *error = synced ? 0 : errno;
    if (::close(fd) != 0 && synced) {
        *error = errno;
        return false;
    }
    return synced;
}

bool ReplacePlainFile(const std::string& from, const std::string& to, int* error) {
    const bool moved = std::rename(from.c_str(), to.c_str()) == 0;
    *error = moved ? 0 : errno;
    return moved;
}

bool RemovePlainFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

long CurrentProcessId() {
    return static_cast<long>(::getpid());
}

bool StandardInputIsTerminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

static long WriteSomePlain(int fd, const char* data, std::size_t len) {
    return static_cast<long>(::write(fd, data, len));
}

void ClosePlainFile(int fd) {
    if (fd >= 0)
        ::close(fd);
}

#endif

// Writes everything, retrying short writes and interruptions; a write that makes no progress means the
// disk is full.
bool WritePlainFile(int fd, const char* data, std::size_t len, int* error) {
    std::size_t done = 0;
    while (done < len) {
        const long n = WriteSomePlain(fd, data + done, len - done);
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

} // namespace tessor
