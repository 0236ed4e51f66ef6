// The drives of a simulated PC: Windows paths mapped onto the folders of the machine image.
//
// Drive C is the folder MACHINE/C.  Names are matched ignoring case, as Windows does, and keep
// the spelling they were created with; on the host disk a name is the UTF-8 form of its code
// page 932 name.  Folder listings are cached and checked against the folder's change time, so
// that looking up a missing name in a large folder does not list it again and again.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>

#include "machine/machine_config.h"
#include "machine/win_path.h"

namespace w9x {

namespace fs = std::filesystem;

// Host names that belong to the platform itself (temporary files of atomic writes) and are
// invisible to simulated programs.
bool IsPlatformName(std::string_view host_name);

// The host path of a Windows path ("C:\\A\\B", UTF-8) spelled as given, without looking at the
// disk: for tests and tools that build machine images.
fs::path SpelledHostPath(const fs::path& machine_root, std::string_view windows_path);

class FileSystem {
 public:
  FileSystem(fs::path machine_root, const std::map<char, DriveType>& drives);

  // The host folder of a drive's root, nullopt for a drive the machine does not have.
  std::optional<fs::path> DriveRoot(char drive) const;
  std::optional<DriveType> TypeOf(char drive) const;

  // Host path of an existing file or folder; `status`, when given, receives its stat (what a
  // symbolic link points to).
  std::optional<fs::path> Find(const WinPath& path, struct stat* status = nullptr);
  // Host path where a new entry for `path` goes: its parent must be an existing folder.  When an
  // entry of that name exists (in any case) its own host path is given.
  std::optional<fs::path> Place(const WinPath& path);

  // Windows name (code page 932) of a host entry name; nullopt when it has no such form.
  static std::optional<std::string> WindowsName(const fs::path& host_name);

  // Keep the listing cache of `dir` in step with a change this process made in it.
  void Added(const fs::path& dir, const std::string& host_name);
  void Removed(const fs::path& dir, const std::string& host_name);

 private:
  struct Listing {
    struct timespec mtime {};
    ino_t inode = 0;
    std::unordered_map<std::string, std::string> names;  // folded Windows name -> host name
  };
  const Listing* ListingOf(const fs::path& dir);
  std::optional<std::string> Match(const fs::path& dir, const std::string& name);
  void Refresh(const fs::path& dir, Listing& listing);
  void Update(const fs::path& dir, const std::string& host_name, bool added);

  fs::path root_;
  std::map<char, DriveType> drives_;
  std::map<char, std::string> drive_roots_;  // host folder of each drive's root
  std::unordered_map<std::string, Listing> listings_;
};

}  // namespace w9x
