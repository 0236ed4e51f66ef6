#include "machine/presets.h"

#include <fstream>

#include "machine/machine_config.h"

namespace w9x {
namespace {

namespace fs = std::filesystem;

struct Preset {
  const char* name;
  std::uint32_t platform, major, minor, build;
  const char* csd;
};

constexpr Preset kPresets[] = {
    {"win95", 1, 4, 0, 950, ""},       {"win95osr2", 1, 4, 0, 1111, " B"}, {"win98", 1, 4, 10, 1998, ""},
    {"win98se", 1, 4, 10, 2222, " A "}, {"winme", 1, 4, 90, 3000, " "},    {"nt4", 2, 4, 0, 1381, "Service Pack 6"},
};

void Write(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary);
  out << bytes;
  if (!out) throw MachineError("cannot write " + file.string());
}

std::string SystemIni(std::uint32_t keyboard_type) {
  return "[boot]\r\n"
         "shell=Explorer.exe\r\n"
         "system.drv=system.drv\r\n"
         "keyboard.drv=keyboard.drv\r\n"
         "display.drv=pnpdrvr.drv\r\n"
         "\r\n"
         "[386Enh]\r\n"
         "device=*vpowerd\r\n"
         "keyboard=*vkd\r\n"
         "\r\n"
         "[keyboard]\r\n"
         "keyboard.dll=\r\n"
         "oemansi.bin=\r\n"
         "type=" + std::to_string(keyboard_type) + "\r\n"
         "\r\n"
         "[drivers]\r\n"
         "wave=mmdrv.dll\r\n"
         "timer=timer.drv\r\n";
}

}  // namespace

std::vector<std::string> PresetNames() {
  std::vector<std::string> names;
  for (const Preset& p : kPresets) names.emplace_back(p.name);
  return names;
}

void CreateMachineImage(const fs::path& dir, const std::string& preset, const PresetOptions& options) {
  const Preset* chosen = nullptr;
  for (const Preset& p : kPresets)
    if (preset == p.name) chosen = &p;
  if (!chosen) {
    std::string known;
    for (auto& n : PresetNames()) known += (known.empty() ? "" : ", ") + n;
    throw MachineError("unknown preset '" + preset + "' (known: " + known + ")");
  }
  std::error_code ec;
  if (fs::exists(dir, ec) && !fs::is_empty(dir, ec))
    throw MachineError(dir.string() + " already exists and is not empty");

  MachineConfig config;
  config.platform = chosen->platform;
  config.major = chosen->major;
  config.minor = chosen->minor;
  config.build = chosen->build;
  config.csd = chosen->csd;
  config.keyboard_type = options.keyboard_type;
  config.keyboard_subtype = options.keyboard_subtype;

  const fs::path c = dir / "C";
  const fs::path windows = c / "WINDOWS";
  for (const char* sub : {"SYSTEM", "SYSTEM/COLOR", "INF", "INF/OTHER", "HELP", "OPTIONS/CABS"}) {
    fs::create_directories(windows / sub, ec);
    if (ec) throw MachineError("cannot create " + (windows / sub).string() + ": " + ec.message());
  }
  Write(dir / "machine.ini", config.Serialize());
  Write(dir / "registry.reg", "REGEDIT4\n\n");
  Write(windows / "SYSTEM.INI", SystemIni(options.keyboard_type));
  Write(windows / "WIN.INI",
        "[windows]\r\nload=\r\nrun=\r\nNullPort=None\r\n\r\n[Desktop]\r\nWallpaper=(None)\r\n");
  // Stand-ins for the setup components that INF installs are handed to.
  Write(windows / "RUNDLL.EXE", "MZ rundll stand-in\r\n");
  Write(windows / "RUNDLL32.EXE", "MZ rundll32 stand-in\r\n");
  Write(c / "AUTOEXEC.BAT", "@ECHO OFF\r\nSET PATH=C:\\WINDOWS;C:\\WINDOWS\\COMMAND\r\n");
  Write(c / "CONFIG.SYS", "DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nDOS=HIGH,UMB\r\nFILES=40\r\n");
}

}  // namespace w9x
