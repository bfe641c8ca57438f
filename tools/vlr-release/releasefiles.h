#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vlrrelease {

using Bytes = std::vector<unsigned char>;

// Reads a whole file of at most maxSize bytes. False with a message in error otherwise.
bool readSmallFile(const std::string &path, std::size_t maxSize, Bytes &data, std::string &error);

// Writes data to path through a temporary file in the same directory that is renamed into
// place only once it is complete: a failed write never leaves a partial file at path.
bool writeFileAtomically(const std::string &path, const Bytes &data, mode_t mode, std::string &error);

} // namespace vlrrelease
