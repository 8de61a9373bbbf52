#pragma once

// Files of tessor-cli: written whole or not at all, and read whole.

#include "link/PlainFile.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace tessor::cli {

// A file written next to its final name and renamed over it only when complete, so that a failed save
// leaves no half-written file (and an existing file as it was). A failure leaves its cause in errno.
class AtomicFile {
public:
    explicit AtomicFile(std::string path)
        : m_path(std::move(path)), m_temp(m_path + ".tmp" + std::to_string(CurrentProcessId())) {}
    ~AtomicFile() { Discard(); }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Create() {
        int error = 0;
        m_fd = CreateNewPlainFile(m_temp, &error);
        return Check(m_fd >= 0, error);
    }
    bool Commit(const std::string& bytes) {
        int error = 0;
        if (!WritePlainFile(m_fd, bytes.data(), bytes.size(), &error))
            return Check(false, error);
        const int fd = m_fd;
        m_fd = -1;
        if (!SyncAndClosePlainFile(fd, &error) || !ReplacePlainFile(m_temp, m_path, &error))
            return Check(false, error);
        m_committed = true;
        return true;
    }
    void Discard() {
        ClosePlainFile(m_fd);
        m_fd = -1;
        if (!m_committed)
            RemovePlainFile(m_temp);
    }

private:
    static bool Check(bool ok, int error) {
        if (!ok)
            errno = error;
        return ok;
    }

    std::string m_path;
    std::string m_temp;
    int m_fd = -1;
    bool m_committed = false;
};

// The whole file, or false with the cause in errno (a folder fails on its first read: EISDIR).
inline bool ReadWholeFile(const std::string& path, std::string* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    errno = error;
    return !failed;
}

} // namespace tessor::cli
