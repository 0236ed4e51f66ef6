// machine.ini: what Windows and the hardware of a simulated PC report.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace w9x {

// A machine image that cannot be used; the message is one line meant for the user.
class MachineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Values are those GetDriveTypeA reports.
enum class DriveType : unsigned { kRemovable = 2, kFixed = 3, kRemote = 4, kCdrom = 5, kRamdisk = 6 };

struct PciDevice {
  std::uint16_t vendor = 0;
  std::uint16_t device = 0;
  bool operator==(const PciDevice&) const = default;
};

struct MachineConfig {
  std::uint32_t platform = 1;        // dwPlatformId
  std::uint32_t major = 4;
  std::uint32_t minor = 10;
  std::uint32_t build = 2222;        // low 16 bits of the build number
  std::string csd;                   // szCSDVersion
  std::string windows_dir = "C:\\WINDOWS";
  std::uint32_t keyboard_type = 7;
  std::uint32_t keyboard_subtype = 0;
  std::map<char, DriveType> drives{{'C', DriveType::kFixed}};
  std::vector<PciDevice> pci;
  std::string dmi;                   // SMBIOS dump file name beside machine.ini, empty for none
  std::uint32_t display_width = 800;   // the desktop window's size in pixels
  std::uint32_t display_height = 600;

  // Throws MachineError naming the entry that is wrong.
  static MachineConfig Parse(std::string_view ini);
  std::string Serialize() const;
};

std::string_view DriveTypeName(DriveType type);

// Decimal or 0x-hexadecimal unsigned number; false when the text is not one.
bool ParseNumber(std::string_view text, std::uint32_t& value);

// A text from a file as an error line shows it: control bytes (a NUL among them) as \xNN, so that
// the line is neither cut nor broken.
std::string PrintableText(std::string_view text);

}  // namespace w9x
