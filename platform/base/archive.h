// Zip archives for backups: one file added to an archive, and every file of
// an archive written out. Backed by libarchive.
//
// Results are the archiver's own codes: 0 success, kArchiveFatal when a file
// could not be read or written or the archive is damaged (cut short, a
// checksum that does not match), kArchiveNoMemory. The output text tells
// what went wrong, for the caller's error log.
//
// An archive is never left half-written under its name: adding writes a new
// archive beside it and renames it over the old one when it is whole.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

constexpr int32_t kArchiveFatal = 2;
constexpr int32_t kArchiveNoMemory = 8;

// Bytes of the file written so far, and the file's size.
using ArchiveProgress = std::function<void(uint64_t written, uint64_t total)>;

// Adds the file to the zip archive under its own name (without folders),
// replacing an entry of that name; the archive is made when missing. The
// file is read as it is on disk while the call runs.
int32_t zipAddFile(const std::string& archive, const std::string& file, std::string* output,
                   const ArchiveProgress& progress = nullptr);

// Writes each entry of the archive to the path that target gives for the
// entry's name (an empty path skips the entry). Each file is on the disk
// when the call returns. On a failure every file written by the call is
// deleted again, so the caller finds nothing of a damaged archive.
int32_t zipExtract(const std::string& archive, const std::function<std::string(const std::string& name)>& target,
                   std::string* output);

}  // namespace platform
