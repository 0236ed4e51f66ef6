// Whole-file reads and atomic writes on the host disk.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace w9x {

namespace fs = std::filesystem;

std::optional<std::string> ReadHostFile(const fs::path& path);

// Writes a temporary file beside `path` and renames it over `path`, so that a reader (or a crash)
// sees either the old or the new content, never a torn one.  The new file keeps the old one's
// permission bits.  False when anything failed (errno tells why); `path` is then unchanged.
bool WriteHostFileAtomically(const fs::path& path, std::string_view bytes);

// A copy of `from` (bytes, permission bits, modification time) in a new temporary file beside
// `to`, not yet in its place; nullopt (and nothing left behind) when it could not be made.
std::optional<fs::path> CopyToTemporary(const fs::path& from, const fs::path& to);
// Renames a temporary file over `path`; on failure the temporary file is removed and `path` is
// unchanged.
bool PutTemporaryInPlace(const fs::path& temp, const fs::path& path);

// Told of each file and folder synced to the disk, as it is synced: a temporary file before it is
// renamed into place, then the folder that holds the new name.  For tests of that order; an
// empty function tells nobody.
void WatchSyncs(std::function<void(const fs::path&)> watcher);

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
// The same from a stat already taken (what a symbolic link points to); nullopt for anything but
// a regular file.
std::optional<FileStamp> StampOf(const struct stat& status);

}  // namespace w9x
