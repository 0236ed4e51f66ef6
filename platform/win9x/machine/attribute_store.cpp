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

}  // namespace

std::uint32_t AttributeStore::Get(const WinPath& path, bool is_folder) {
  if (const IniFile* ini = profiles_.Load(path_)) {
    if (auto v = ini->Get(kSection, KeyOf(path))) {
      std::uint32_t bits = 0;
      if (ParseNumber(*v, bits)) return bits & kStoredBits;
    }
  }
  return Default(is_folder);
}

bool AttributeStore::Set(const WinPath& path, bool is_folder, std::uint32_t bits) {
  bits &= kStoredBits;
  if (Get(path, is_folder) == bits) return true;
  const IniFile* current = profiles_.Load(path_);
  IniFile ini = current ? *current : IniFile::Parse("");
  if (bits == Default(is_folder)) {
    ini.DeleteKey(kSection, KeyOf(path));
  } else {
    char value[16];
    std::snprintf(value, sizeof value, "0x%02X", bits);
    ini.Set(kSection, KeyOf(path), value);
  }
  return profiles_.Store(path_, std::move(ini));
}

bool AttributeStore::Forget(const WinPath& path) {
  const IniFile* current = profiles_.Load(path_);
  if (!current || !current->Get(kSection, KeyOf(path))) return true;
  IniFile ini = *current;
  ini.DeleteKey(kSection, KeyOf(path));
  return profiles_.Store(path_, std::move(ini));
}

bool AttributeStore::Move(const WinPath& from, const WinPath& to) {
  const IniFile* current = profiles_.Load(path_);
  if (!current) return true;
  auto value = current->Get(kSection, KeyOf(from));
  if (!value) return true;
  IniFile ini = *current;
  ini.DeleteKey(kSection, KeyOf(from));
  ini.Set(kSection, KeyOf(to), *value);
  return profiles_.Store(path_, std::move(ini));
}

}  // namespace w9x
