#pragma once

#include <cstddef>
#include <string>

namespace tessor {

// A plain file written through the C runtime's descriptors, with errno-style causes on failure, on every
// system the program runs on. Paths are in the system's local 8-bit encoding (what QFile::encodeName
// gives). Descriptors are ints, -1 for none.

// Creates the file or empties it, for writing. Returns the descriptor, or -1 with the cause in *error.
int CreatePlainFile(const std::string& path, int* error);
// Writes all of the bytes (retrying interrupted and partial writes); false with the cause in *error.
bool WritePlainFile(int fd, const char* data, std::size_t len, int* error);
void ClosePlainFile(int fd);

} // namespace tessor
