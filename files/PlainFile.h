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
// The one writer of every file the tool makes whole (configurations, reports, exports): data becomes the
// whole new content of path, written into a new file in the same folder, put on the disk, then renamed
// over it. A failure leaves path as it was, and nothing beside it. A pipe, a device or a socket at path is
// refused (kPlainFileNotRegular) without being opened, a folder with EISDIR. A symbolic link is written
// through: its target is replaced in the target's folder (keeping the link), also a target that does not
// exist yet when its folder does (a link into a missing folder gives ENOENT). An existing file keeps its
// mode; a new one gets the usual mode for new files.
bool ReplacePlainFileContents(const std::string& path, const char* data, std::size_t len, int* error);
// Whether ReplacePlainFileContents could write path now (its refusals, and a file made and removed in
// the folder), for a check before a long job; changes nothing. false with the cause in *error.
bool CanReplacePlainFile(const std::string& path, int* error);

// The largest file ReadSmallPlainFile reads: a configuration file holds 281 bytes, a criteria file a few
// lines; anything near this size is not one of them.
constexpr std::int64_t kSmallFileLimit = 1 << 20;
// The cause ReadSmallPlainFile gives for a file larger than kSmallFileLimit.
constexpr int kPlainFileTooLarge = -2;
// The one reader of the small files the tool reads whole (configurations, criteria): a regular file of
// at most kSmallFileLimit bytes. A pipe, a device or a socket is refused without waiting for it
// (kPlainFileNotRegular), a folder with EISDIR, a larger file with kPlainFileTooLarge (never read).
bool ReadSmallPlainFile(const std::string& path, std::string* bytes, int* error);
// A cause in words for a message after the file's name: the system's text, or what the tool's own
// causes mean.
std::string PlainFileErrorText(int error);

// The cause LockPlainFile gives when another open of the file holds the lock.
constexpr int kPlainFileLocked = -3;
// Takes an exclusive advisory lock on an open file without waiting, held until the descriptor is
// closed; a second open of the file (in this process or another) cannot take it. Windows: no lock is
// taken (its locks would also keep readers out), true.
bool LockPlainFile(int fd, int* error);
// What names one file whatever the path (links, "." and "..", a second hard link): the device and inode
// of an existing file, else the resolved folder and the name of the file that opening the path would
// create (through a symbolic link whose file does not exist yet, the link's target).
std::string PlainFileIdentity(const std::string& path);

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
