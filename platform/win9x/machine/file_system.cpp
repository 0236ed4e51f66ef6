#include "machine/file_system.h"

#include <dirent.h>

#include "machine/text.h"

namespace w9x {
namespace {

bool SameStamp(const struct stat& st, const struct timespec& mtime, ino_t inode) {
  return st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec && st.st_ino == inode;
}

}  // namespace

bool IsPlatformName(std::string_view host_name) { return host_name.starts_with(".w9x"); }

FileSystem::FileSystem(fs::path machine_root, const std::map<char, DriveType>& drives)
    : root_(std::move(machine_root)), drives_(drives) {
  for (const auto& [drive, type] : drives_) drive_roots_[drive] = (root_ / std::string(1, drive)).native();
}

std::optional<fs::path> FileSystem::DriveRoot(char drive) const {
  auto it = drive_roots_.find(drive);
  if (it == drive_roots_.end()) return std::nullopt;
  return fs::path(it->second);
}

std::optional<DriveType> FileSystem::TypeOf(char drive) const {
  auto it = drives_.find(drive);
  if (it == drives_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> FileSystem::WindowsName(const fs::path& host_name) {
  return text::ToCp932(host_name.native());
}

void FileSystem::Refresh(const fs::path& dir, Listing& listing) {
  listing.names.clear();
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string_view host = e->d_name;
    if (host == "." || host == ".." || IsPlatformName(host)) continue;
    if (auto name = WindowsName(std::string(host))) listing.names.emplace(text::Upper(*name), host);
  }
  closedir(d);
}

const FileSystem::Listing* FileSystem::ListingOf(const fs::path& dir) {
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    listings_.erase(dir.native());
    return nullptr;
  }
  Listing& listing = listings_[dir.native()];
  if (!SameStamp(st, listing.mtime, listing.inode)) {
    Refresh(dir, listing);
    listing.mtime = st.st_mtim;
    listing.inode = st.st_ino;
  }
  return &listing;
}

std::optional<std::string> FileSystem::Match(const fs::path& dir, const std::string& name) {
  // The spelling asked for is by far the most common one: one stat settles it.
  if (auto utf8 = text::ToUtf8(name); text::ToCp932(utf8) == name && !IsPlatformName(utf8)) {
    struct stat st {};
    if (lstat((dir / utf8).c_str(), &st) == 0) return utf8;
  }
  const Listing* listing = ListingOf(dir);
  if (!listing) return std::nullopt;
  auto it = listing->names.find(text::Upper(name));
  if (it == listing->names.end()) return std::nullopt;
  return it->second;
}

std::optional<fs::path> FileSystem::Find(const WinPath& path, struct stat* status) {
  auto root = drive_roots_.find(path.drive);
  if (root == drive_roots_.end()) return std::nullopt;
  struct stat st {};
  // Paths are nearly always asked for as they are spelled on the disk: one lstat of the whole
  // path settles that, where the walk below takes one per name.  The path is put together as a
  // string: a path object would split it again at each name.
  if (!path.IsRoot()) {
    std::string spelled = root->second;
    std::size_t parent_end = spelled.size();
    bool plain = true;
    for (const std::string& part : path.parts) {
      std::string utf8 = text::ToUtf8(part);
      plain = plain && text::ToCp932(utf8) == part && !IsPlatformName(utf8);
      parent_end = spelled.size();
      spelled += '/';
      spelled += utf8;
    }
    if (plain && lstat(spelled.c_str(), &st) == 0) {
      if (status && (!S_ISLNK(st.st_mode) || stat(spelled.c_str(), &st) == 0)) *status = st;
      else if (status) return std::nullopt;  // a link that leads nowhere
      return fs::path(std::move(spelled));
    }
    // Next most common: a folder spelled as on the disk, and a name in it that is new or
    // spelled otherwise.  Only that name needs the folder's listing.
    if (plain) {
      const fs::path parent(spelled.substr(0, parent_end));
      if (const Listing* listing = ListingOf(parent)) {
        auto it = listing->names.find(text::Upper(path.Leaf()));
        if (it == listing->names.end()) return std::nullopt;
        fs::path found = parent / it->second;
        if (status && stat(found.c_str(), status) != 0) return std::nullopt;
        return found;
      }
    }
  }
  fs::path host(root->second);
  if (stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;  // no medium
  for (const std::string& part : path.parts) {
    auto name = Match(host, part);
    if (!name) return std::nullopt;
    host /= *name;
  }
  if (status && stat(host.c_str(), status) != 0) return std::nullopt;
  return host;
}

std::optional<fs::path> FileSystem::Place(const WinPath& path) {
  if (path.IsRoot()) return Find(path);
  struct stat st {};
  auto parent = Find(path.Parent(), &st);
  if (!parent || !S_ISDIR(st.st_mode)) return std::nullopt;
  if (auto existing = Match(*parent, path.Leaf())) return *parent / *existing;
  std::string utf8 = text::ToUtf8(path.Leaf());
  if (text::ToCp932(utf8) != path.Leaf()) return std::nullopt;  // not valid code page 932
  return *parent / utf8;
}

void FileSystem::Added(const fs::path& dir, const std::string& host_name) { Update(dir, host_name, true); }

void FileSystem::Removed(const fs::path& dir, const std::string& host_name) { Update(dir, host_name, false); }

void FileSystem::Update(const fs::path& dir, const std::string& host_name, bool added) {
  auto it = listings_.find(dir.native());
  if (it == listings_.end()) return;
  struct stat st {};
  auto name = WindowsName(host_name);
  if (stat(dir.c_str(), &st) != 0 || !name) {
    listings_.erase(it);
    return;
  }
  if (added) it->second.names[text::Upper(*name)] = host_name;
  else it->second.names.erase(text::Upper(*name));
  it->second.mtime = st.st_mtim;
  it->second.inode = st.st_ino;
}

// A host path by the spelling of a Windows path, without looking at the disk.
fs::path SpelledHostPath(const fs::path& machine_root, std::string_view windows_path) {
  if (windows_path.empty()) return machine_root;
  fs::path host = machine_root / std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(windows_path[0]))));
  std::size_t start = 3;
  while (start < windows_path.size()) {
    std::size_t end = windows_path.find('\\', start);
    if (end == std::string_view::npos) end = windows_path.size();
    if (end > start) host /= std::string(windows_path.substr(start, end - start));
    start = end + 1;
  }
  return host;
}

}  // namespace w9x
