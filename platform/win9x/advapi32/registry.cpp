// The registry functions, over the machine's registry (machine/registry_store.h).
//
// An HKEY is a predefined root or a handle of the process's handle table.  A handle holds its key
// object, so it stays valid while the key is deleted underneath it (calls on it then fail with
// ERROR_KEY_DELETED), and it keeps the key's path: when another process has replaced
// registry.reg, the key is found again by that path in the fresh tree.
//
// A change is made in the tree under the registry lock and handed to the store as a list of
// changes (RegistryChange), which the store makes lasting before the call returns.
//
// Errors are those Windows 9x reports: ERROR_BADKEY for a handle that is not open and for a
// malformed key name, ERROR_FILE_NOT_FOUND for a missing key or value.  Every change writes a
// journal line with the key's full path and its outcome.
#include <cstring>
#include <span>

#include "kernel32/api_support.h"

using namespace w9x;

namespace {

RegistryStore& Store() { return CurrentMachine().Registry(); }

class KeyHandle : public KernelObject {
 public:
  KeyHandle(std::shared_ptr<RegistryKey> key, std::uint64_t generation)
      : key_(std::move(key)), path_(key_->Path()), generation_(generation) {}

  // The key in the store's current tree.  A key gone from a tree read afresh counts as deleted,
  // and a deleted key stays deleted even when a key of the same path appears later.
  std::shared_ptr<RegistryKey> Current(RegistryStore& store) {
    if (generation_ != store.Generation()) {
      if (!key_->IsDeleted()) {
        KeyResult found = store.Tree().Open(path_);
        key_ = found.status == RegStatus::kOk ? found.key : RegistryKey::MakeDeleted(key_->Name());
      }
      generation_ = store.Generation();
    }
    return key_;
  }

 private:
  std::shared_ptr<RegistryKey> key_;
  std::string path_;  // full path, code page 932
  std::uint64_t generation_;
};

std::optional<RootKey> PredefinedRoot(HKEY h) {
  switch (static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h))) {
    case 0x80000000u: return RootKey::kClassesRoot;
    case 0x80000001u: return RootKey::kCurrentUser;
    case 0x80000002u: return RootKey::kLocalMachine;
    case 0x80000003u: return RootKey::kUsers;
    case 0x80000005u: return RootKey::kCurrentConfig;
    case 0x80000006u: return RootKey::kDynData;
    default: return std::nullopt;
  }
}

LONG ErrorOf(RegStatus status) {
  switch (status) {
    case RegStatus::kOk: return ERROR_SUCCESS;
    case RegStatus::kNotFound: return ERROR_FILE_NOT_FOUND;
    case RegStatus::kKeyDeleted: return ERROR_KEY_DELETED;
    case RegStatus::kInvalidName:
    case RegStatus::kTooDeep: return ERROR_BADKEY;
  }
  return ERROR_BADKEY;
}

struct KeyOf {
  LONG error = ERROR_SUCCESS;
  std::shared_ptr<RegistryKey> key;
};

// The key an HKEY stands for in the current tree.  HKEY_CLASSES_ROOT is the key SOFTWARE\Classes
// of HKEY_LOCAL_MACHINE: a change creates that key when it is missing, a read finds nothing there.
KeyOf Resolve(HKEY h, bool for_change) {
  RegistryTree& tree = Store().Tree();
  if (std::optional<RootKey> root = PredefinedRoot(h)) {
    if (*root != RootKey::kClassesRoot || for_change) return {ERROR_SUCCESS, tree.Root(*root)};
    KeyResult classes = tree.Open(RootKeyName(RootKey::kClassesRoot));
    if (classes.status != RegStatus::kOk) return {ERROR_FILE_NOT_FOUND, nullptr};
    return {ERROR_SUCCESS, classes.key};
  }
  auto* handle = CurrentProcess().Handles().Get<KeyHandle>(reinterpret_cast<std::uintptr_t>(h));
  if (!handle) return {ERROR_BADKEY, nullptr};
  std::shared_ptr<RegistryKey> key = handle->Current(Store());
  if (key->IsDeleted()) return {ERROR_KEY_DELETED, nullptr};
  return {ERROR_SUCCESS, std::move(key)};
}

HKEY AddHandle(std::shared_ptr<RegistryKey> key) {
  auto handle = std::make_unique<KeyHandle>(std::move(key), Store().Generation());
  return reinterpret_cast<HKEY>(CurrentProcess().Handles().Add(std::move(handle)));
}

// Journal line of a change: the key's full path, then the call's own fields and its outcome.
void RecordChange(std::string_view event, const std::string& key_path, nlohmann::ordered_json fields, LONG error) {
  nlohmann::ordered_json line = {{"key", api::Utf8(key_path)}};
  for (auto& [name, value] : fields.items()) line[name] = value;
  line["result"] = error == ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) line["error"] = error;
  api::Record(event, std::move(line));
}

std::string Join(const std::string& parent, const char* sub) {
  return sub && *sub ? parent + "\\" + sub : parent;
}

// The data of a value for the journal: the text of a string, lowercase hex bytes otherwise.
nlohmann::ordered_json DataForJournal(DWORD type, std::span<const std::uint8_t> data) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::string text(data.begin(), data.end());
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return api::Utf8(text);
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t b : data) {
    if (!hex.empty()) hex += ',';
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0xF];
  }
  return hex;
}

// Runs one change under the registry lock and makes it lasting when it succeeded.  `change`
// makes it in the tree and lists what it changed.
template <typename Change>
LONG Modify(const char* call, Change change) {
  if (auto error = api::InjectedFault(call)) {
    api::WriteFailed("registry.reg", *error);
    return static_cast<LONG>(*error);
  }
  RegistryStore::Update update(Store());
  if (!update.Ready()) return ERROR_CANTREAD;
  std::vector<RegistryChange> changes;
  LONG error = change(changes);
  if (error == ERROR_SUCCESS && !update.Commit(changes)) {
    api::WriteFailed("registry.reg", ERROR_CANTWRITE);
    return ERROR_CANTWRITE;
  }
  return error;
}

// Opens a subkey for RegOpenKeyA and RegOpenKeyExA.
LONG OpenSubKey(HKEY h, LPCSTR sub, PHKEY result) {
  *result = nullptr;
  Store().Refresh();  // a file that no longer reads leaves the last good tree
  KeyOf parent = Resolve(h, false);
  if (parent.error != ERROR_SUCCESS) return parent.error;
  KeyResult found = parent.key->Open(sub ? sub : "");
  if (found.status != RegStatus::kOk) return ErrorOf(found.status);
  *result = AddHandle(std::move(found.key));
  return ERROR_SUCCESS;
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY h, LPCSTR sub, DWORD, REGSAM, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  if (auto error = api::InjectedFault("RegOpenKeyExA")) {
    *result = nullptr;
    return static_cast<LONG>(*error);
  }
  return OpenSubKey(h, sub, result);
}

LONG WINAPI RegOpenKeyA(HKEY h, LPCSTR sub, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  if (auto error = api::InjectedFault("RegOpenKeyA")) {
    *result = nullptr;
    return static_cast<LONG>(*error);
  }
  if (!sub || !*sub) {
    // No subkey: the handle passed in is the answer.
    Store().Refresh();
    KeyOf key = Resolve(h, false);
    if (key.error != ERROR_SUCCESS) return key.error;
    *result = h;
    return ERROR_SUCCESS;
  }
  return OpenSubKey(h, sub, result);
}

LONG WINAPI RegCreateKeyA(HKEY h, LPCSTR sub, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::shared_ptr<RegistryKey> key;
  std::string created_path;
  LONG error = Modify("RegCreateKeyA", [&](std::vector<RegistryChange>& changes) -> LONG {
    // A change under HKEY_CLASSES_ROOT creates SOFTWARE\Classes when it is missing.
    const bool classes_made = PredefinedRoot(h) == RootKey::kClassesRoot &&
                              Store().Tree().Open(RootKeyName(RootKey::kClassesRoot)).status != RegStatus::kOk;
    KeyOf parent = Resolve(h, true);
    if (parent.error != ERROR_SUCCESS) return parent.error;
    KeyResult made = parent.key->Create(sub ? sub : "");
    if (made.status != RegStatus::kOk) return ErrorOf(made.status);
    if (made.created) created_path = made.key->Path();
    if (made.created || classes_made) changes.push_back({RegistryChange::Kind::kCreateKey, made.key->Path()});
    key = std::move(made.key);
    return ERROR_SUCCESS;
  });
  if (!created_path.empty()) RecordChange("RegCreateKeyA", created_path, nlohmann::ordered_json::object(), error);
  if (error != ERROR_SUCCESS) return error;
  *result = AddHandle(std::move(key));
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExA(HKEY h, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD, LPSTR class_name,
                          LPDWORD class_size, PFILETIME last_write) {
  if (!name || !name_size) return ERROR_INVALID_PARAMETER;
  if (auto error = api::InjectedFault("RegEnumKeyExA")) return static_cast<LONG>(*error);
  Store().Refresh();
  KeyOf key = Resolve(h, false);
  if (key.error == ERROR_FILE_NOT_FOUND) return ERROR_NO_MORE_ITEMS;  // no HKEY_CLASSES_ROOT yet
  if (key.error != ERROR_SUCCESS) return key.error;
  std::shared_ptr<RegistryKey> sub = key.key->SubKeyAt(index);
  if (!sub) return ERROR_NO_MORE_ITEMS;
  const std::string& text = sub->Name();
  if (*name_size <= text.size()) return ERROR_MORE_DATA;
  std::memcpy(name, text.c_str(), text.size() + 1);
  *name_size = static_cast<DWORD>(text.size());
  if (class_name && class_size && *class_size > 0) class_name[0] = '\0';
  if (class_size) *class_size = 0;
  if (last_write) *last_write = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY h, LPCSTR value_name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD data_size) {
  if (data && !data_size) return ERROR_INVALID_PARAMETER;
  if (auto error = api::InjectedFault("RegQueryValueExA")) return static_cast<LONG>(*error);
  Store().Refresh();
  KeyOf key = Resolve(h, false);
  if (key.error != ERROR_SUCCESS) return key.error;
  const RegistryValue* value = key.key->FindValue(value_name ? value_name : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  const DWORD size = static_cast<DWORD>(value->data.size());
  if (type) *type = value->type;
  if (data) {
    if (*data_size < size) {
      *data_size = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, value->data.data(), size);
  }
  if (data_size) *data_size = size;
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY h, LPCSTR value_name, DWORD, DWORD type, const BYTE* data, DWORD data_size) {
  if (!data && data_size) return ERROR_INVALID_PARAMETER;
  std::span<const std::uint8_t> bytes(data, data ? data_size : 0);
  std::string key_path;
  LONG error = Modify("RegSetValueExA", [&](std::vector<RegistryChange>& changes) -> LONG {
    KeyOf key = Resolve(h, true);
    if (key.error != ERROR_SUCCESS) return key.error;
    key_path = key.key->Path();
    const char* name = value_name ? value_name : "";
    RegStatus status = key.key->SetValue(name, type, bytes);
    if (status == RegStatus::kOk)
      changes.push_back({RegistryChange::Kind::kSetValue, key_path, name, type, {bytes.begin(), bytes.end()}});
    return status == RegStatus::kInvalidName ? ERROR_INVALID_PARAMETER : ErrorOf(status);
  });
  RecordChange("RegSetValueExA", key_path,
               {{"name", api::Utf8(value_name ? value_name : "")}, {"type", type}, {"data", DataForJournal(type, bytes)}},
               error);
  return error;
}

LONG WINAPI RegDeleteKeyA(HKEY h, LPCSTR sub) {
  std::string key_path;
  // As on Windows 9x, the key goes with everything beneath it.
  LONG error = Modify("RegDeleteKeyA", [&](std::vector<RegistryChange>& changes) -> LONG {
    KeyOf parent = Resolve(h, false);
    if (parent.error != ERROR_SUCCESS) return parent.error;
    key_path = Join(parent.key->Path(), sub);
    LONG result = ErrorOf(parent.key->DeleteSubKey(sub ? sub : ""));
    if (result == ERROR_SUCCESS) changes.push_back({RegistryChange::Kind::kDeleteKey, key_path});
    return result;
  });
  RecordChange("RegDeleteKeyA", key_path, nlohmann::ordered_json::object(), error);
  return error;
}

LONG WINAPI RegDeleteValueA(HKEY h, LPCSTR value_name) {
  std::string key_path;
  LONG error = Modify("RegDeleteValueA", [&](std::vector<RegistryChange>& changes) -> LONG {
    KeyOf key = Resolve(h, false);
    if (key.error != ERROR_SUCCESS) return key.error;
    key_path = key.key->Path();
    const char* name = value_name ? value_name : "";
    LONG result = ErrorOf(key.key->DeleteValue(name));
    if (result == ERROR_SUCCESS) changes.push_back({RegistryChange::Kind::kDeleteValue, key_path, name});
    return result;
  });
  RecordChange("RegDeleteValueA", key_path, {{"name", api::Utf8(value_name ? value_name : "")}}, error);
  return error;
}

LONG WINAPI RegCloseKey(HKEY h) {
  if (PredefinedRoot(h)) return ERROR_SUCCESS;
  auto id = reinterpret_cast<std::uintptr_t>(h);
  if (!CurrentProcess().Handles().Get<KeyHandle>(id)) return ERROR_BADKEY;
  CurrentProcess().Handles().Close(id);
  return ERROR_SUCCESS;
}
