#include "machine/machine_config.h"

#include <charconv>
#include <cstdio>
#include <optional>

#include "machine/ini_file.h"
#include "machine/win_path.h"

namespace w9x {
namespace {

constexpr std::pair<std::string_view, DriveType> kDriveTypes[] = {
    {"removable", DriveType::kRemovable}, {"fixed", DriveType::kFixed}, {"remote", DriveType::kRemote},
    {"cdrom", DriveType::kCdrom},         {"ramdisk", DriveType::kRamdisk},
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// machine.ini values may carry a trailing "; comment".
std::optional<std::string> Value(const IniFile& ini, std::string_view section, std::string_view key) {
  auto v = ini.Get(section, key);
  if (!v) return std::nullopt;
  std::string_view s = *v;
  if (auto semi = s.find(';'); semi != std::string_view::npos) s = s.substr(0, semi);
  return std::string(Trim(s));
}

[[noreturn]] void Fail(std::string_view section, std::string_view key, std::string_view what,
                       std::string_view got) {
  throw MachineError("machine.ini: [" + PrintableText(section) + "] " + PrintableText(key) + ": " + std::string(what) +
                     ", got '" + PrintableText(got) + "'");
}

std::uint32_t Number(const IniFile& ini, std::string_view section, std::string_view key, std::uint32_t fallback) {
  auto v = Value(ini, section, key);
  if (!v) return fallback;
  std::uint32_t n = 0;
  if (!ParseNumber(*v, n)) Fail(section, key, "expected a decimal or 0x-hexadecimal number", *v);
  return n;
}

bool ParseHex16(std::string_view s, std::uint16_t& out) {
  if (s.empty() || s.size() > 4) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out, 16);
  return ec == std::errc() && p == s.data() + s.size();
}

}  // namespace

bool ParseNumber(std::string_view text, std::uint32_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc() && p == text.data() + text.size();
}

std::string PrintableText(std::string_view s) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string_view DriveTypeName(DriveType type) {
  for (auto& [name, t] : kDriveTypes)
    if (t == type) return name;
  return "fixed";
}

MachineConfig MachineConfig::Parse(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);  // a UTF-8 byte-order mark
  IniFile ini = IniFile::Parse(bytes);
  MachineConfig c;
  c.platform = Number(ini, "Windows", "Platform", c.platform);
  if (auto v = Value(ini, "Windows", "Version")) {
    auto dot = v->find('.');
    if (dot == std::string::npos || !ParseNumber(v->substr(0, dot), c.major) ||
        !ParseNumber(v->substr(dot + 1), c.minor))
      Fail("Windows", "Version", "expected MAJOR.MINOR", *v);
  } else {
    throw MachineError("machine.ini: [Windows] Version is missing");
  }
  if (!Value(ini, "Windows", "Build")) throw MachineError("machine.ini: [Windows] Build is missing");
  c.build = Number(ini, "Windows", "Build", 0);
  if (c.build > 0xFFFF) Fail("Windows", "Build", "expected a build number up to 65535", std::to_string(c.build));
  if (auto v = Value(ini, "Windows", "CSDVersion")) c.csd = *v;
  if (c.csd.size() > 127) Fail("Windows", "CSDVersion", "expected at most 127 characters", c.csd);
  if (auto v = Value(ini, "Windows", "Directory")) {
    auto path = ParseFullPath(*v);
    if (!path || path->IsRoot()) Fail("Windows", "Directory", "expected a full folder path such as C:\\WINDOWS", *v);
    c.windows_dir = path->ToString();
  }
  c.keyboard_type = Number(ini, "Keyboard", "Type", c.keyboard_type);
  c.keyboard_subtype = Number(ini, "Keyboard", "Subtype", c.keyboard_subtype);

  if (auto keys = ini.KeyNames("Drives")) {
    c.drives.clear();
    for (const std::string& key : *keys) {
      if (key.size() != 1 || !((key[0] >= 'A' && key[0] <= 'Z') || (key[0] >= 'a' && key[0] <= 'z')))
        Fail("Drives", key, "expected a drive letter as the key", key);
      std::string type = *Value(ini, "Drives", key);
      bool known = false;
      for (auto& [name, t] : kDriveTypes) {
        if (type == name) {
          c.drives[static_cast<char>(key[0] & ~0x20)] = t;
          known = true;
        }
      }
      if (!known) Fail("Drives", key, "expected fixed, removable, cdrom, remote or ramdisk", type);
    }
  }
  if (!c.drives.count(c.windows_dir[0]))
    Fail("Windows", "Directory", "expected a folder on a drive listed in [Drives]", c.windows_dir);

  if (auto v = Value(ini, "Devices", "PCI")) {
    std::string_view rest = *v;
    while (!(rest = Trim(rest)).empty()) {
      std::string_view item = rest.substr(0, rest.find_first_of(" \t"));
      rest.remove_prefix(item.size());
      auto colon = item.find(':');
      PciDevice d;
      if (colon == std::string_view::npos || !ParseHex16(item.substr(0, colon), d.vendor) ||
          !ParseHex16(item.substr(colon + 1), d.device))
        Fail("Devices", "PCI", "expected VENDOR:DEVICE pairs in hexadecimal", item);
      c.pci.push_back(d);
    }
  }
  if (auto v = Value(ini, "Devices", "DMI")) {
    if (v->empty() || v->find('/') != std::string::npos || *v == "." || *v == "..")
      Fail("Devices", "DMI", "expected a file name beside machine.ini", *v);
    c.dmi = *v;
  }
  c.display_width = Number(ini, "Display", "Width", c.display_width);
  c.display_height = Number(ini, "Display", "Height", c.display_height);
  for (auto [key, value] : {std::pair{"Width", c.display_width}, std::pair{"Height", c.display_height}})
    if (value < 1 || value > 16384) Fail("Display", key, "expected a size from 1 to 16384 pixels", std::to_string(value));
  return c;
}

std::string MachineConfig::Serialize() const {
  char buffer[64];
  std::string s = "[Windows]\r\n";
  s += "Platform=" + std::to_string(platform) + "\r\n";
  s += "Version=" + std::to_string(major) + "." + std::to_string(minor) + "\r\n";
  s += "Build=" + std::to_string(build) + "\r\n";
  if (!csd.empty()) s += "CSDVersion=" + csd + "\r\n";
  s += "Directory=" + windows_dir + "\r\n\r\n[Keyboard]\r\n";
  s += "Type=" + std::to_string(keyboard_type) + "\r\n";
  std::snprintf(buffer, sizeof buffer, "Subtype=0x%04X\r\n", keyboard_subtype);
  s += buffer;
  s += "\r\n[Drives]\r\n";
  for (auto& [letter, type] : drives) s += std::string(1, letter) + "=" + std::string(DriveTypeName(type)) + "\r\n";
  if (!pci.empty() || !dmi.empty()) {
    s += "\r\n[Devices]\r\n";
    if (!pci.empty()) {
      s += "PCI=";
      for (std::size_t i = 0; i < pci.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%s%04X:%04X", i ? " " : "", pci[i].vendor, pci[i].device);
        s += buffer;
      }
      s += "\r\n";
    }
    if (!dmi.empty()) s += "DMI=" + dmi + "\r\n";
  }
  if (display_width != 800 || display_height != 600)
    s += "\r\n[Display]\r\nWidth=" + std::to_string(display_width) + "\r\nHeight=" + std::to_string(display_height) + "\r\n";
  return s;
}

}  // namespace w9x
