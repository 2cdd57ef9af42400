#pragma once
// Reading and writing the files a user names (settings, export file, charset file).
//  - Only regular files are read, up to a size cap: a FIFO, a device or a directory is refused
//    without blocking, and a runaway file cannot exhaust memory.
//  - A write replaces the file atomically (temporary file in the same directory, then rename)
//    in the ordinary case. A file the user may not write is refused and left untouched; a new
//    file honours the umask; a replaced file keeps its mode and owner; a symbolic link is
//    written through to its target and stays a link. Where a replace would change the owner,
//    break a hard link or is barred by the directory, the file is rewritten in place instead.

#include <cstddef>
#include <string>
#include <string_view>

namespace dahlo {

enum class FileReadStatus {
    kOk,
    kMissing,  // no such file
    kFailed,   // not a regular file, unreadable, or larger than the cap
};

// Reads `path` into `data`. On kFailed `data` holds the bytes read before the failure (at most
// `maxBytes`), nothing for a file that is not a regular file.
FileReadStatus ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& data);

// Writes `data` as the whole content of `path`. On failure `error` is "Unable to write to
// <path>"; the old file is as it was unless the failure came half way through an in-place write.
bool WriteUserFile(const std::string& path, std::string_view data, std::string& error);

// The text of the failed-write error for `path`.
std::string UnableToWriteMessage(std::string_view path);

}  // namespace dahlo
