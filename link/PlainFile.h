#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessor {

// A plain file written through the C runtime's descriptors, with errno-style causes on failure, on every
// system the program runs on. Paths are in the system's local 8-bit encoding (what QFile::encodeName
// gives). Descriptors are ints, -1 for none.

// Creates the file or empties it, for writing. Returns the descriptor, or -1 with the cause in *error.
int CreatePlainFile(const std::string& path, int* error);
// The cause CreateRegularPlainFile gives for a pipe, a device or a socket (no system error number).
constexpr int kPlainFileNotRegular = -1;
// As CreatePlainFile, but only for a regular file: a pipe, a device or a socket is refused without
// waiting for it (kPlainFileNotRegular), also when one takes the name's place while it is opened.
int CreateRegularPlainFile(const std::string& path, int* error);
// Writes all of the bytes (retrying interrupted and partial writes); false with the cause in *error.
bool WritePlainFile(int fd, const char* data, std::size_t len, int* error);
void ClosePlainFile(int fd);

// What a file is opened for by OpenRegularPlainFile.
enum class PlainFileUse {
    Read,   // an existing file, for reading
    Append, // created when missing; read anywhere, written at the end
};
// Opens a regular file; a pipe, a device or a socket is refused (kPlainFileNotRegular) before it is
// opened and without waiting for it. Returns the descriptor, or -1 with the cause in *error.
int OpenRegularPlainFile(const std::string& path, PlainFileUse use, int* error);
// Reads up to len bytes: the count, 0 at the end of the file, -1 with the cause in *error.
long ReadPlainFile(int fd, char* data, std::size_t len, int* error);
// Reads exactly len bytes from offset; false with the cause in *error (EIO when the file is shorter).
bool ReadPlainFileAt(int fd, std::int64_t offset, char* data, std::size_t len, int* error);
// The size of an open file, -1 with the cause in *error.
std::int64_t PlainFileSize(int fd, int* error);
// Writes data as the whole new content of path: into a new file in the same folder, put on the disk,
// then renamed over path. A failure leaves path as it was, and nothing beside it. A pipe, a device or a
// socket at path is refused (kPlainFileNotRegular) without being opened.
bool ReplacePlainFileContents(const std::string& path, const char* data, std::size_t len, int* error);

// Creates a file that must not exist yet (EEXIST otherwise), for writing.
int CreateNewPlainFile(const std::string& path, int* error);
// Puts the file's data on the disk and closes it; false with the cause in *error (closed either way).
bool SyncAndClosePlainFile(int fd, int* error);
// Moves the file from in place of to, replacing to if it exists; false with the cause in *error.
bool ReplacePlainFile(const std::string& from, const std::string& to, int* error);
bool RemovePlainFile(const std::string& path);

// The running process's id, and whether its standard input (error) is a terminal (a console on Windows).
long CurrentProcessId();
bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();

} // namespace tessor
