#include "diff_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "machine/file_system.h"
#include "machine/host_file.h"
#include "machine/ini_file.h"
#include "machine/machine.h"
#include "machine/registry_tree.h"
#include "machine/text.h"

namespace w9x::tool {
namespace {

constexpr int kRunnerError = 125;

int Error(const std::string& message) {
  std::fprintf(stderr, "w9x: %s\n", message.c_str());
  return kRunnerError;
}

// Upper-cases ASCII letters only, so that UTF-8 sequences stay whole.
std::string FoldAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

struct Entry {
  std::string path;  // "C:\DIR\FILE", UTF-8, as spelled on disk
  fs::path host;
  bool folder = false;
  std::uint32_t attributes = 0;  // DOS bits, read-only included
};

// Every file and folder of the image's drives, by folded path.
std::map<std::string, Entry> ListFiles(Machine& machine) {
  std::map<std::string, Entry> entries;
  for (const auto& [letter, type] : machine.Config().drives) {
    auto root = machine.Files().DriveRoot(letter);
    if (!root) continue;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(*root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (IsPlatformName(name)) {
        it.disable_recursion_pending();
        continue;
      }
      Entry e;
      e.host = it->path();
      e.folder = it->is_directory(ec);
      WinPath win{.drive = letter};
      std::string display = std::string(1, letter) + ":";
      bool representable = true;
      for (const fs::path& part : fs::relative(it->path(), *root)) {
        display += "\\" + part.string();
        auto cp932 = text::ToCp932(part.string());
        if (!cp932) representable = false;
        else win.parts.push_back(*cp932);
      }
      e.path = display;
      struct stat st {};
      if (stat(e.host.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) e.attributes |= 0x01;
      if (representable) e.attributes |= machine.Attributes().Get(win, e.folder);
      entries.emplace(FoldAscii(display), std::move(e));
    }
  }
  return entries;
}

std::string AttributeText(std::uint32_t bits) {
  std::string s;
  if (bits & 0x01) s += 'R';
  if (bits & 0x02) s += 'H';
  if (bits & 0x04) s += 'S';
  if (bits & 0x20) s += 'A';
  return s.empty() ? "-" : s;
}

std::string Quoted(const std::optional<std::string>& value) {
  return value ? "\"" + text::ToUtf8(*value) + "\"" : "(none)";
}

// The entries of two profile files that differ, with `subject` before each "[section] key".
void DiffIni(const std::string& a_bytes, const std::string& b_bytes, const std::string& subject,
             std::vector<Difference>& out) {
  const IniFile a = IniFile::Parse(a_bytes), b = IniFile::Parse(b_bytes);
  std::vector<std::string> sections = a.SectionNames();
  for (const std::string& s : b.SectionNames())
    if (!a.KeyNames(s)) sections.push_back(s);
  for (const std::string& section : sections) {
    std::vector<std::string> keys = a.KeyNames(section).value_or(std::vector<std::string>{});
    for (const std::string& k : b.KeyNames(section).value_or(std::vector<std::string>{}))
      if (!a.Get(section, k)) keys.push_back(k);
    for (const std::string& key : keys) {
      auto va = a.Get(section, key), vb = b.Get(section, key);
      if (va == vb) continue;
      const char* effect = !va ? "INI entry added" : !vb ? "INI entry removed" : "INI entry changed";
      out.push_back({effect, subject + " [" + text::ToUtf8(section) + "] " + text::ToUtf8(key),
                     Quoted(va) + " -> " + Quoted(vb)});
    }
  }
}

// The lines of WININIT.INI's [rename] section: the file operations queued for the next start.
std::vector<std::string> QueuedLines(const std::string& bytes) {
  return IniFile::Parse(bytes).SectionLines("rename").value_or(std::vector<std::string>{});
}

bool IsWininit(const std::string& path) {
  return path.size() >= 12 && FoldAscii(path.substr(path.size() - 12)) == "\\WININIT.INI";
}

// Queued operations present in `b` and not in `a` (each line counted as often as it stands).
void DiffQueued(const std::string& a_bytes, const std::string& b_bytes, std::vector<Difference>& out) {
  std::vector<std::string> a = QueuedLines(a_bytes);
  for (const std::string& line : QueuedLines(b_bytes)) {
    auto it = std::find(a.begin(), a.end(), line);
    if (it != a.end()) a.erase(it);
    else out.push_back({"queued for the next start", text::ToUtf8(line), ""});
  }
  for (const std::string& line : a) out.push_back({"no longer queued for the next start", text::ToUtf8(line), ""});
}

bool EndsWithIni(const std::string& path) {
  return path.size() > 4 && FoldAscii(path.substr(path.size() - 4)) == ".INI";
}

void DiffFiles(Machine& ma, Machine& mb, std::vector<Difference>& out) {
  const auto a = ListFiles(ma), b = ListFiles(mb);
  std::set<std::string> keys;
  for (const auto& [k, e] : a) keys.insert(k);
  for (const auto& [k, e] : b) keys.insert(k);
  for (const std::string& key : keys) {
    auto ia = a.find(key), ib = b.find(key);
    if (ib == b.end()) {
      out.push_back({ia->second.folder ? "folder deleted" : "file deleted", ia->second.path, ""});
      continue;
    }
    if (ia == a.end()) {
      out.push_back({ib->second.folder ? "folder created" : "file created", ib->second.path, ""});
      if (!ib->second.folder && IsWininit(ib->second.path))
        DiffQueued("", ReadHostFile(ib->second.host).value_or(""), out);
      continue;
    }
    const Entry &ea = ia->second, &eb = ib->second;
    if (ea.folder != eb.folder) {
      out.push_back({ea.folder ? "folder replaced by a file" : "file replaced by a folder", eb.path, ""});
      continue;
    }
    if (ea.path != eb.path) out.push_back({"name spelled differently", ea.path, "-> " + eb.path});
    if (!ea.folder) {
      auto ca = ReadHostFile(ea.host), cb = ReadHostFile(eb.host);
      if (!ca || !cb) throw std::runtime_error("cannot read " + (ca ? eb.host : ea.host).string());
      if (*ca != *cb) {
        const std::size_t before = out.size();
        if (IsWininit(eb.path)) DiffQueued(*ca, *cb, out);
        else if (EndsWithIni(eb.path)) DiffIni(*ca, *cb, eb.path, out);
        if (out.size() == before)
          out.push_back({"file changed", eb.path, std::to_string(ca->size()) + " -> " + std::to_string(cb->size()) + " bytes"});
      }
    }
    if (ea.attributes != eb.attributes)
      out.push_back({"attributes changed", eb.path, AttributeText(ea.attributes) + " -> " + AttributeText(eb.attributes)});
  }
}

std::string ValueText(const RegistryValue* v) {
  if (!v) return "(none)";
  if ((v->type == reg_type::kString || v->type == reg_type::kExpandString)) {
    std::string s(v->data.begin(), v->data.end());
    if (!s.empty() && s.back() == '\0') s.pop_back();
    return (v->type == reg_type::kExpandString ? "expand:\"" : "\"") + text::ToUtf8(s) + "\"";
  }
  if (v->type == reg_type::kDword && v->data.size() == 4) {
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "dword:%08x",
                  v->data[0] | v->data[1] << 8 | v->data[2] << 16 | static_cast<unsigned>(v->data[3]) << 24);
    return buffer;
  }
  std::string s = "hex(" + std::to_string(v->type) + "):";
  for (std::size_t i = 0; i < v->data.size(); ++i) {
    char buffer[4];
    std::snprintf(buffer, sizeof buffer, "%s%02x", i ? "," : "", v->data[i]);
    s += buffer;
  }
  return s;
}

std::string ValueName(const std::string& name) { return name.empty() ? "@" : text::ToUtf8(name); }

void DiffKeys(RegistryKey& a, RegistryKey& b, const std::string& path, std::vector<Difference>& out) {
  for (std::size_t i = 0; i < a.ValueCount(); ++i) {
    const RegistryValue* va = a.ValueAt(i);
    const RegistryValue* vb = b.FindValue(va->name);
    if (!vb) out.push_back({"registry value deleted", path + "\\" + ValueName(va->name), ValueText(va)});
    else if (!(*va == *vb))
      out.push_back({"registry value changed", path + "\\" + ValueName(va->name), ValueText(va) + " -> " + ValueText(vb)});
  }
  for (std::size_t i = 0; i < b.ValueCount(); ++i) {
    const RegistryValue* vb = b.ValueAt(i);
    if (!a.FindValue(vb->name)) out.push_back({"registry value set", path + "\\" + ValueName(vb->name), ValueText(vb)});
  }
  for (std::size_t i = 0; i < a.SubKeyCount(); ++i) {
    auto ka = a.SubKeyAt(i);
    const std::string sub = path + "\\" + text::ToUtf8(ka->Name());
    KeyResult kb = b.Open(ka->Name());
    if (kb.status != RegStatus::kOk) out.push_back({"registry key deleted", sub, ""});
    else DiffKeys(*ka, *kb.key, sub, out);
  }
  for (std::size_t i = 0; i < b.SubKeyCount(); ++i) {
    auto kb = b.SubKeyAt(i);
    if (a.Open(kb->Name()).status == RegStatus::kOk) continue;
    const std::string sub = path + "\\" + text::ToUtf8(kb->Name());
    out.push_back({"registry key created", sub, ""});
    // What the new key holds is part of what changed.
    RegistryTree empty;
    auto nothing = empty.Root(RootKey::kUsers);
    DiffKeys(*nothing, *kb, sub, out);
  }
}

}  // namespace

std::vector<Difference> DiffMachines(Machine& a, Machine& b) {
  std::vector<Difference> out;
  DiffFiles(a, b, out);
  auto ma = ReadHostFile(a.Root() / "machine.ini"), mb = ReadHostFile(b.Root() / "machine.ini");
  if (ma && mb && *ma != *mb) {
    std::vector<Difference> settings;
    DiffIni(*ma, *mb, "machine.ini", settings);
    for (Difference& d : settings) d.effect = "machine setting " + d.effect.substr(std::string("INI entry ").size());
    out.insert(out.end(), settings.begin(), settings.end());
  }
  RegistryTree& ta = a.Registry().Tree();
  RegistryTree& tb = b.Registry().Tree();
  for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser, RootKey::kUsers, RootKey::kCurrentConfig,
                       RootKey::kDynData})
    DiffKeys(*ta.Root(root), *tb.Root(root), std::string(RootKeyName(root)), out);
  return out;
}

int Diff(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() != 2) return Error("usage: w9x diff MACHINE_A MACHINE_B");
  std::unique_ptr<Machine> a, b;
  std::vector<Difference> differences;
  try {
    a = std::make_unique<Machine>(args[0]);
    b = std::make_unique<Machine>(args[1]);
    differences = DiffMachines(*a, *b);
  } catch (const std::exception& e) {
    return Error(e.what());
  }
  for (const Difference& d : differences) {
    out << d.effect << " " << d.subject;
    if (!d.detail.empty()) out << ": " << d.detail;
    out << "\n";
  }
  return differences.empty() ? 0 : 1;
}

}  // namespace w9x::tool
