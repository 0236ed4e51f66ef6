// The DOS attribute bits of a machine's files other than read-only, kept in attributes.ini.
//
// Read-only is the owner write bit of the host file.  Hidden, system and archive live in the
// section [Attributes] of attributes.ini beside machine.ini, one line per path whose bits differ
// from the default (archive for a file, nothing for a folder).  Every change is one step of the
// profile store under the lock that the machine's processes share, so that concurrent changes of
// different files never undo each other.
#pragma once

#include <cstdint>

#include "machine/profile_store.h"
#include "machine/win_path.h"

namespace w9x {

class AttributeStore {
 public:
  static constexpr std::uint32_t kHidden = 0x02, kSystem = 0x04, kArchive = 0x20;
  static constexpr std::uint32_t kStoredBits = kHidden | kSystem | kArchive;

  AttributeStore(fs::path ini_path, ProfileStore& profiles) : path_(std::move(ini_path)), profiles_(profiles) {}

  std::uint32_t Get(const WinPath& path, bool is_folder);
  // False when attributes.ini could not be written.
  bool Set(const WinPath& path, bool is_folder, std::uint32_t bits);
  bool Forget(const WinPath& path);
  bool Move(const WinPath& from, const WinPath& to);

 private:
  static std::uint32_t Default(bool is_folder) { return is_folder ? 0 : kArchive; }
  static std::uint32_t StoredBits(const IniFile& ini, const WinPath& path, bool is_folder);
  fs::path path_;
  ProfileStore& profiles_;
};

}  // namespace w9x
