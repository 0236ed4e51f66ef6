// Whole-file reads and atomic writes on the host disk.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace w9x {

namespace fs = std::filesystem;

std::optional<std::string> ReadHostFile(const fs::path& path);

// Writes a temporary file beside `path` and renames it over `path`, so that a reader (or a crash)
// sees either the old or the new content, never a torn one.  The new file keeps the old one's
// permission bits.  False when anything failed; `path` is then unchanged.
bool WriteHostFileAtomically(const fs::path& path, std::string_view bytes);

// Identity of a file's content as far as the platform can tell without reading it.  Atomic
// writes replace the inode, so any write shows up here.
struct FileStamp {
  ino_t inode = 0;
  off_t size = -1;
  struct timespec mtime {};
  bool operator==(const FileStamp& o) const {
    return inode == o.inode && size == o.size && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};
std::optional<FileStamp> StampOf(const fs::path& path);

}  // namespace w9x
