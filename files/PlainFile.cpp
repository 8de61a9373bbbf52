#include "files/PlainFile.h"

#include <cerrno>
#include <fcntl.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
#include <sys/file.h>
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

// A name that must not be replaced by a file: a directory, a device or a pipe. Opened for no access,
// which neither reads nor waits for anything.
int RefuseAsReplaced(const std::wstring& name) {
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return EISDIR;
    const HANDLE handle =
        ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 0; // nothing there yet (or nothing that opens): creating the new file says what is wrong
    const bool disk = ::GetFileType(handle) == FILE_TYPE_DISK;
    ::CloseHandle(handle);
    return disk ? 0 : kPlainFileNotRegular;
}

bool IsDiskFile(int fd) {
    return ::GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(fd))) == FILE_TYPE_DISK;
}

} // namespace

int OpenRegularPlainFile(const std::string& path, PlainFileUse use, int* error) {
    const std::wstring name = WidePath(path);
    if (name.empty()) {
        *error = ENOENT;
        return -1;
    }
    const int flags = use == PlainFileUse::Read ? _O_RDONLY : _O_RDWR | _O_APPEND | _O_CREAT;
    const int fd = ::_wopen(name.c_str(), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    *error = fd < 0 ? errno : 0;
    if (fd >= 0 && !IsDiskFile(fd)) { // device names and pipes open at once; what was opened is checked
        ::_close(fd);
        *error = kPlainFileNotRegular;
        return -1;
    }
    return fd;
}

long ReadPlainFile(int fd, char* data, std::size_t len, int* error) {
    const int n = ::_read(fd, data, static_cast<unsigned>(len < INT_MAX ? len : INT_MAX));
    *error = n < 0 ? errno : 0;
    return n;
}

bool ReadPlainFileAt(int fd, std::int64_t offset, char* data, std::size_t len, int* error) {
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) {
        *error = errno;
        return false;
    }
    for (std::size_t done = 0; done < len;) {
        const long n = ReadPlainFile(fd, data + done, len - done, error);
        if (n <= 0) {
            if (n == 0)
                *error = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::int64_t PlainFileSize(int fd, int* error) {
    const std::int64_t size = ::_filelengthi64(fd);
    *error = size < 0 ? errno : 0;
    return size;
}

namespace {

// The file that replaces path goes beside it; Windows keeps no mode bits to carry over.
bool ReplacementTarget(const std::string& path, std::string* target, int* mode, int* error) {
    *target = path;
    *mode = -1;
    *error = RefuseAsReplaced(WidePath(path));
    return *error == 0;
}

bool TakeMode(int fd, int /*mode*/, int* error) {
    *error = IsDiskFile(fd) ? 0 : kPlainFileNotRegular; // "NUL.tmp1" names the null device on older systems
    return *error == 0;
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

// Windows locks are mandatory: a locked recording could not be opened by the window meanwhile.
bool LockPlainFile(int /*fd*/, int* error) {
    *error = 0;
    return true;
}

std::string PlainFileIdentity(const std::string& path) {
    return path; // only the monitor compares files, and it has no Windows build
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

// Refuses a pipe, a device, a socket or a directory at path (before anything opens it).
int NotRegularCause(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return 0;
    return S_ISDIR(st.st_mode) ? EISDIR : kPlainFileNotRegular;
}

} // namespace

int OpenRegularPlainFile(const std::string& path, PlainFileUse use, int* error) {
    *error = NotRegularCause(path);
    if (*error != 0)
        return -1;
    // Non-blocking, so that a pipe that took the name's place meanwhile does not wait for a writer.
    const int flags = use == PlainFileUse::Read ? O_RDONLY : O_RDWR | O_APPEND | O_CREAT;
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *error = errno == ENXIO ? kPlainFileNotRegular : errno; // ENXIO: a socket, or a pipe without reader
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = kPlainFileNotRegular;
        return -1;
    }
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *error = 0;
    return fd;
}

long ReadPlainFile(int fd, char* data, std::size_t len, int* error) {
    long n;
    do {
        n = static_cast<long>(::read(fd, data, len));
    } while (n < 0 && errno == EINTR);
    *error = n < 0 ? errno : 0;
    return n;
}

bool ReadPlainFileAt(int fd, std::int64_t offset, char* data, std::size_t len, int* error) {
    for (std::size_t done = 0; done < len;) {
        const long n = static_cast<long>(::pread(
            fd, data + done, len - done, static_cast<off_t>(offset + static_cast<std::int64_t>(done))));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n == 0 ? EIO : errno;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::int64_t PlainFileSize(int fd, int* error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *error = errno;
        return -1;
    }
    *error = 0;
    return static_cast<std::int64_t>(st.st_size);
}

namespace {

// The name a chain of symbolic links ends at, existing or not (relative links count from the link's
// folder); false with ELOOP for a chain longer than the system follows.
bool FinalName(const std::string& path, std::string* name, int* error) {
    *name = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(name->c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        std::string to(PATH_MAX, '\0');
        const ssize_t n = ::readlink(name->c_str(), &to[0], to.size());
        if (n < 0) {
            *error = errno;
            return false;
        }
        to.resize(static_cast<std::size_t>(n));
        const auto slash = name->find_last_of('/');
        *name = to.front() == '/' || slash == std::string::npos ? to : name->substr(0, slash + 1) + to;
    }
    *error = ELOOP;
    return false;
}

// What replaces path: the file a symbolic link names (the link stays), with the mode of the old file.
bool ReplacementTarget(const std::string& path, std::string* target, int* mode, int* error) {
    *mode = -1;
    if (!FinalName(path, target, error))
        return false;
    *error = NotRegularCause(*target);
    if (*error != 0)
        return false;
    struct stat st {};
    if (::stat(target->c_str(), &st) == 0)
        *mode = static_cast<int>(st.st_mode & 07777);
    return true;
}

bool TakeMode(int fd, int mode, int* error) {
    *error = mode >= 0 && ::fchmod(fd, static_cast<mode_t>(mode)) != 0 ? errno : 0;
    return *error == 0;
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

bool LockPlainFile(int fd, int* error) {
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    *error = result == 0 ? 0 : errno == EWOULDBLOCK ? kPlainFileLocked : errno;
    return result == 0;
}

std::string PlainFileIdentity(const std::string& given) {
    std::string path = given;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return "inode " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    // A symbolic link whose file does not exist yet names the file that opening it would create; a chain
    // of them is followed as far as the system follows one (a loop names nothing to be created).
    constexpr int kMaxLinks = 40;
    for (int hop = 0; hop < kMaxLinks && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode); ++hop) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
            break;
        const std::string to(target, static_cast<std::size_t>(length));
        const auto at = path.find_last_of('/');
        path = to.front() == '/' || at == std::string::npos ? to : path.substr(0, at + 1) + to;
    }
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr)
        return "path " + path;
    const std::string resolved = real;
    std::free(real);
    return "path " + resolved + (resolved == "/" ? "" : "/") + name;
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

namespace {

// A new file beside target, to be renamed over it; -1 with the cause in *error.
int CreateBeside(const std::string& target, std::string* temp, int* error) {
    for (int attempt = 0;; ++attempt) { // a name left by a process that had the same id
        *temp = target + ".tmp" + std::to_string(CurrentProcessId()) +
                (attempt > 0 ? "-" + std::to_string(attempt) : std::string());
        const int fd = CreateNewPlainFile(*temp, error);
        if (fd >= 0 || *error != EEXIST || attempt == 99)
            return fd;
    }
}

} // namespace

// The file a replacement of path writes (a link's target), its mode, and a new temporary file beside
// it, open for writing; -1 when path may not be replaced or nothing can be created there.
static int StartReplacement(const std::string& path, std::string* target, int* mode, std::string* temp,
                            int* error) {
    *mode = -1;
    if (!ReplacementTarget(path, target, mode, error))
        return -1;
    return CreateBeside(*target, temp, error);
}

bool CanReplacePlainFile(const std::string& path, int* error) {
    std::string target;
    std::string temp;
    int mode = -1;
    const int fd = StartReplacement(path, &target, &mode, &temp, error);
    if (fd < 0)
        return false;
    ClosePlainFile(fd);
    RemovePlainFile(temp);
    return true;
}

bool ReadSmallPlainFile(const std::string& path, std::string* bytes, int* error) {
    bytes->clear();
    const int fd = OpenRegularPlainFile(path, PlainFileUse::Read, error);
    if (fd < 0)
        return false;
    const std::int64_t size = PlainFileSize(fd, error);
    bool ok = size >= 0 && size <= kSmallFileLimit;
    if (size > kSmallFileLimit)
        *error = kPlainFileTooLarge;
    // Read to the end, in case the file grew since its size was taken; never past the limit.
    char chunk[4096];
    long n = 1;
    while (ok && n > 0) {
        n = ReadPlainFile(fd, chunk, sizeof chunk, error);
        ok = n >= 0;
        if (n > 0)
            bytes->append(chunk, static_cast<std::size_t>(n));
        if (static_cast<std::int64_t>(bytes->size()) > kSmallFileLimit) {
            *error = kPlainFileTooLarge;
            ok = false;
        }
    }
    ClosePlainFile(fd);
    if (!ok)
        bytes->clear();
    return ok;
}

std::string PlainFileErrorText(int error) {
    switch (error) {
    case kPlainFileNotRegular:
        return "not a regular file (a pipe, a device or a socket)";
    case kPlainFileTooLarge:
        return "larger than 1 MiB, more than such a file can hold";
    case kPlainFileLocked:
        return "locked by another process that writes it";
    default:
        return std::strerror(error);
    }
}

bool ReplacePlainFileContents(const std::string& path, const char* data, std::size_t len, int* error) {
    std::string target;
    std::string temp;
    int mode = -1;
    const int fd = StartReplacement(path, &target, &mode, &temp, error);
    if (fd < 0)
        return false;
    bool ok = TakeMode(fd, mode, error) && WritePlainFile(fd, data, len, error);
    if (ok) {
        ok = SyncAndClosePlainFile(fd, error) && ReplacePlainFile(temp, target, error);
    } else {
        ClosePlainFile(fd);
    }
    if (!ok)
        RemovePlainFile(temp);
    return ok;
}

} // namespace tessor
