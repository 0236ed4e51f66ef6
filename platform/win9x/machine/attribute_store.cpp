#include "machine/attribute_store.h"

#include <cstdio>

#include "machine/machine_config.h"

namespace w9x {
namespace {

constexpr const char* kSection = "Attributes";

// Paths are INI keys: "%" and "=" are written as %25 and %3D.
std::string KeyOf(const WinPath& path) {
  std::string key;
  for (char c : path.Key()) {
    if (c == '%') key += "%25";
    else if (c == '=') key += "%3D";
    else key += c;
  }
  return key;
}

bool Done(ProfileStore::Change change) {
  return change != ProfileStore::Change::kFailed && change != ProfileStore::Change::kDenied;
}

}  // namespace

std::uint32_t AttributeStore::StoredBits(const IniFile& ini, const WinPath& path, bool is_folder) {
  if (auto v = ini.Get(kSection, KeyOf(path))) {
    std::uint32_t bits = 0;
    if (ParseNumber(*v, bits)) return bits & kStoredBits;
  }
  return Default(is_folder);
}

std::uint32_t AttributeStore::Get(const WinPath& path, bool is_folder) {
  if (const IniFile* ini = profiles_.Load(path_)) return StoredBits(*ini, path, is_folder);
  return Default(is_folder);
}

bool AttributeStore::Set(const WinPath& path, bool is_folder, std::uint32_t bits) {
  bits &= kStoredBits;
  return Done(profiles_.Modify(path_, [&](IniFile& ini) {
    if (StoredBits(ini, path, is_folder) == bits) return false;
    if (bits == Default(is_folder)) {
      ini.DeleteKey(kSection, KeyOf(path));
    } else {
      char value[16];
      std::snprintf(value, sizeof value, "0x%02X", bits);
      ini.Set(kSection, KeyOf(path), value);
    }
    return true;
  }));
}

bool AttributeStore::Forget(const WinPath& path) {
  // Most paths have no line: nothing to lock or write then.
  const IniFile* current = profiles_.Load(path_);
  if (!current || !current->Get(kSection, KeyOf(path))) return true;
  return Done(profiles_.Modify(path_, [&](IniFile& ini) { return ini.DeleteKey(kSection, KeyOf(path)); }));
}

bool AttributeStore::Move(const WinPath& from, const WinPath& to) {
  const IniFile* current = profiles_.Load(path_);
  if (!current || !current->Get(kSection, KeyOf(from))) return true;
  return Done(profiles_.Modify(path_, [&](IniFile& ini) {
    auto value = ini.Get(kSection, KeyOf(from));
    if (!value) return false;
    const std::string kept = *value;
    ini.DeleteKey(kSection, KeyOf(from));
    ini.Set(kSection, KeyOf(to), kept);
    return true;
  }));
}

}  // namespace w9x
