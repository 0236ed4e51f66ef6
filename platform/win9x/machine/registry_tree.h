// The registry of the simulated Windows 9x PC: a tree of keys and values, read from and written
// to REGEDIT4 text.
//
// Inside the tree every name and every string is code page 932 bytes; the REGEDIT4 text is UTF-8.
// Key and value names are matched ignoring ASCII case (double-byte characters untouched) and keep
// the spelling they were created with.  Paths use backslashes, searched double-byte aware.
//
// Keys are shared objects: whoever holds a std::shared_ptr<RegistryKey> (an open handle) keeps a
// valid object even when the key is deleted from the tree.  Such a key reports IsDeleted(), is no
// longer reachable from its parent, has no subkeys or values, and answers opens and changes with
// RegStatus::kKeyDeleted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace w9x {

// Value type numbers as programs pass them.
namespace reg_type {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kString = 1;
inline constexpr std::uint32_t kExpandString = 2;
inline constexpr std::uint32_t kBinary = 3;
inline constexpr std::uint32_t kDword = 4;
inline constexpr std::uint32_t kDwordBigEndian = 5;
inline constexpr std::uint32_t kLink = 6;
inline constexpr std::uint32_t kMultiString = 7;
}  // namespace reg_type

// The predefined top-level keys.  kClassesRoot is not a tree of its own: it is
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
enum class RootKey { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig, kDynData };

// "HKEY_LOCAL_MACHINE" ... for a root key.
std::string_view RootKeyName(RootKey root);
// A root key from its full name or its short form (HKLM, HKCU, HKCR, HKU, HKCC, HKDD), any case.
std::optional<RootKey> RootKeyFromName(std::string_view name);

enum class RegStatus {
  kOk,
  kNotFound,     // no such key or value
  kKeyDeleted,   // the key this operation works on was deleted
  kInvalidName,  // an empty path component, a name too long, a control character, or a name
                 // that has no UTF-8 form (it could not be written to the file)
  kTooDeep,      // creating the path would nest keys deeper than kMaxKeyDepth
};

// Longest key name (one path component), in bytes, and deepest nesting below a root key.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxKeyDepth = 512;

struct RegistryValue {
  std::string name;  // code page 932; empty for the key's default value
  std::uint32_t type = reg_type::kNone;
  std::vector<std::uint8_t> data;  // exactly as set, e.g. a string with its terminating NUL

  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

class RegistryKey;

// The answer of Open / Create: key is set exactly when status is kOk.
struct KeyResult {
  RegStatus status = RegStatus::kNotFound;
  std::shared_ptr<RegistryKey> key;
  bool created = false;  // Create: the final key did not exist before
};

class RegistryKey : public std::enable_shared_from_this<RegistryKey> {
  struct Private {};

 public:
  // Use RegistryTree (or Create on an existing key) to make keys.
  RegistryKey(Private, std::string name, std::size_t depth);
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey();

  // A key that is already deleted, standing for one that vanished while a handle was open on it
  // (another process removed it).
  static std::shared_ptr<RegistryKey> MakeDeleted(std::string name);

  // The spelling the key was created with; for a root key its full root name.
  const std::string& Name() const { return name_; }
  // Full path from the root, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\Classes"; just the name once deleted.
  std::string Path() const;
  bool IsDeleted() const { return deleted_; }
  bool IsRoot() const { return depth_ == 0; }
  // Levels below the root key (0 for a root key).
  std::size_t Depth() const { return depth_; }
  // The key above this one; null for a root key and for a deleted key.
  std::shared_ptr<RegistryKey> Parent() const { return parent_.lock(); }

  // --- Subkeys.  A path is relative, components separated by backslashes; an empty path is this key.

  KeyResult Open(std::string_view path);
  // Opens the path, creating every missing level.
  KeyResult Create(std::string_view path);
  // Deletes the key at the (non-empty) path with everything under it.  Handles held on any of
  // those keys stay valid and report IsDeleted().
  RegStatus DeleteSubKey(std::string_view path);

  // Direct subkeys in creation order (file order for a loaded tree).  SubKeyAt is null past the end.
  std::size_t SubKeyCount() const { return children_.size(); }
  std::shared_ptr<RegistryKey> SubKeyAt(std::size_t index) const;

  // --- Values.  Names match ignoring case; setting an existing value keeps its name's spelling
  // and its place in the enumeration order.

  // Null when absent.  The pointer stays valid until this key's values next change.
  const RegistryValue* FindValue(std::string_view name) const;
  RegStatus SetValue(std::string_view name, std::uint32_t type, std::span<const std::uint8_t> data);
  // Type 1 with the code page 932 text and a terminating NUL.
  RegStatus SetString(std::string_view name, std::string_view text);
  // Type 4, four bytes little endian.
  RegStatus SetDword(std::string_view name, std::uint32_t value);
  RegStatus DeleteValue(std::string_view name);

  // Values in the order they were first set.  ValueAt is null past the end.
  std::size_t ValueCount() const { return values_.size(); }
  const RegistryValue* ValueAt(std::size_t index) const;

 private:
  friend class RegistryTree;

  static std::shared_ptr<RegistryKey> MakeRoot(std::string name);
  // The direct subkey with this name, or null.
  std::shared_ptr<RegistryKey> Child(std::string_view name) const;
  std::shared_ptr<RegistryKey> AddChild(std::string_view name);
  void MarkSubtreeDeleted();

  std::string name_;
  std::size_t depth_;
  bool deleted_ = false;
  std::weak_ptr<RegistryKey> parent_;
  // A few subkeys or values are found by comparing names; past kIndexFrom of them an index by
  // upper-cased name is kept as well (empty while there are fewer).  Most keys of a registry
  // have only a handful, and a tree is built far faster without an index per key.
  static constexpr std::size_t kIndexFrom = 16;
  // The slot of a value in values_; values_.size() when absent.
  std::size_t ValueSlot(std::string_view name) const;
  void IndexValues();

  std::vector<std::shared_ptr<RegistryKey>> children_;
  std::unordered_map<std::string, RegistryKey*> child_index_;
  std::vector<RegistryValue> values_;
  std::unordered_map<std::string, std::size_t> value_index_;  // slot in values_
};

// Where and why REGEDIT4 text was rejected.
struct RegistryParseError {
  std::size_t line = 0;  // 1-based
  std::string reason;    // e.g. "bad dword"

  // "line 12: bad dword"
  std::string Message() const;
};

class RegistryTree;

struct RegistryParseResult {
  std::unique_ptr<RegistryTree> tree;  // null when the text was rejected
  RegistryParseError error;            // meaningful only when tree is null
};

class RegistryTree {
 public:
  // An empty registry: the root keys without subkeys or values.
  RegistryTree();
  RegistryTree(const RegistryTree&) = delete;
  RegistryTree& operator=(const RegistryTree&) = delete;
  ~RegistryTree();

  // The key behind a predefined root.  kClassesRoot gives HKEY_LOCAL_MACHINE\SOFTWARE\Classes,
  // created here when it does not exist.
  std::shared_ptr<RegistryKey> Root(RootKey root);

  // A path that starts with a root key name, e.g. "HKEY_CURRENT_USER\Software\Foo" or "HKCR\.txt".
  // An unknown root name gives kNotFound.
  KeyResult Open(std::string_view full_path);
  KeyResult Create(std::string_view full_path);

  // Reads REGEDIT4 text (UTF-8, LF or CR LF line ends).  The first malformed line rejects the
  // whole text.
  static RegistryParseResult Parse(std::string_view text);

  // The whole registry as REGEDIT4 text with LF line ends.  Deterministic: parsing the output and
  // serializing again gives the same bytes.  Root keys with neither values nor subkeys are left out.
  std::string Serialize() const;

 private:
  std::shared_ptr<RegistryKey> roots_[5];  // every RootKey except kClassesRoot
};

// One key and everything under it as REGEDIT4 text (the key's own section always included).  A
// deleted key gives just the header.
std::string SerializeRegistryKey(const RegistryKey& key);

}  // namespace w9x
