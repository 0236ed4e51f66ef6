#include "smbios_builder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <stdlib.h>

#include "machine/little_endian.h"

namespace w9x::smbios::testing {
namespace {

using le::PutDword;
using le::PutQword;
using le::PutWord;


void PutText(std::vector<std::uint8_t>& b, std::size_t at, const char* text) {
  std::memcpy(b.data() + at, text, std::strlen(text));
}

// Sets b[at] so that the bytes b[from, from + length) sum to 0 modulo 256.
void PutChecksum(std::vector<std::uint8_t>& b, std::size_t at, std::size_t from, std::size_t length) {
  b[at] = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = from; i < from + length; ++i) sum = static_cast<std::uint8_t>(sum + b[i]);
  b[at] = static_cast<std::uint8_t>(-sum);
}

std::uint16_t Word16(std::size_t v, const char* what) {
  if (v > 0xFFFF) throw std::length_error(std::string(what) + " does not fit 16 bits");
  return static_cast<std::uint16_t>(v);
}

}  // namespace

std::vector<std::uint8_t> Encode(const StructureDesc& desc) {
  if (desc.fields.size() > 0xFF - 4) throw std::length_error("formatted area longer than 255 bytes");
  std::vector<std::uint8_t> bytes(4);
  bytes[0] = desc.type;
  bytes[1] = static_cast<std::uint8_t>(4 + desc.fields.size());
  PutWord(bytes, 2, desc.handle);
  bytes.insert(bytes.end(), desc.fields.begin(), desc.fields.end());
  for (const std::string& s : desc.strings) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
  }
  if (desc.strings.empty()) bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

StructureDesc SystemInfo(const SystemInfoDesc& desc) {
  StructureDesc s;
  s.type = 1;
  s.handle = desc.handle;
  s.fields.assign(0x1B - 4, 0);
  const std::string* texts[] = {&desc.manufacturer, &desc.product, &desc.version, &desc.serial};
  for (std::size_t i = 0; i < 4; ++i) {
    if (texts[i]->empty()) continue;
    s.strings.push_back(*texts[i]);
    s.fields[i] = static_cast<std::uint8_t>(s.strings.size());  // offsets 4 to 7
  }
  if (desc.product_number) s.fields[1] = *desc.product_number;
  for (std::size_t i = 0; i < 16; ++i) s.fields[0x08 - 4 + i] = static_cast<std::uint8_t>(0x10 + i);
  s.fields[0x18 - 4] = 0x06;  // woken up by the power switch
  return s;
}

DumpBuilder& DumpBuilder::Add(const StructureDesc& desc) { return AddRaw(Encode(desc)); }

DumpBuilder& DumpBuilder::AddEndOfTable(std::uint16_t handle) {
  return Add(StructureDesc{.type = 127, .handle = handle, .fields = {}, .strings = {}});
}

DumpBuilder& DumpBuilder::AddRaw(std::vector<std::uint8_t> bytes) {
  sizes_.push_back(bytes.size());
  table_.insert(table_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::vector<std::uint8_t> DumpBuilder::Build(DumpKind kind) const {
  if (kind == DumpKind::Bare) return table_;
  std::vector<std::uint8_t> dump(kTableOffset, 0);
  switch (kind) {
    case DumpKind::Legacy: {
      PutText(dump, 0, "_DMI_");
      PutWord(dump, 0x06, Word16(table_.size(), "table length"));
      PutDword(dump, 0x08, kTableOffset);
      PutWord(dump, 0x0C, Word16(sizes_.size(), "structure count"));
      dump[0x0E] = 0x20;  // BCD revision 2.0
      PutChecksum(dump, 0x05, 0, 0x0F);
      break;
    }
    case DumpKind::V2: {
      constexpr std::uint8_t major = 2, minor = 8;
      PutText(dump, 0, "_SM_");
      dump[0x05] = 0x1F;
      dump[0x06] = major;
      dump[0x07] = minor;
      const std::size_t largest = sizes_.empty() ? 0 : *std::max_element(sizes_.begin(), sizes_.end());
      PutWord(dump, 0x08, Word16(largest, "largest structure"));
      PutText(dump, 0x10, "_DMI_");
      PutWord(dump, 0x16, Word16(table_.size(), "table length"));
      PutDword(dump, 0x18, kTableOffset);
      PutWord(dump, 0x1C, Word16(sizes_.size(), "structure count"));
      dump[0x1E] = static_cast<std::uint8_t>((major << 4) | (minor & 0x0F));
      PutChecksum(dump, 0x15, 0x10, 0x0F);
      PutChecksum(dump, 0x04, 0, 0x1F);
      break;
    }
    case DumpKind::V3: {
      PutText(dump, 0, "_SM3_");
      dump[0x06] = 0x18;
      dump[0x07] = 3;  // version 3.2
      dump[0x08] = 2;
      dump[0x0A] = 0x01;  // entry point revision
      if (table_.size() > 0xFFFFFFFFu) throw std::length_error("table length does not fit 32 bits");
      PutDword(dump, 0x0C, static_cast<std::uint32_t>(table_.size()));
      PutQword(dump, 0x10, kTableOffset);
      PutChecksum(dump, 0x05, 0, 0x18);
      break;
    }
    case DumpKind::Bare:
      break;
  }
  dump.insert(dump.end(), table_.begin(), table_.end());
  return dump;
}

void DumpBuilder::WriteFile(const std::filesystem::path& path, DumpKind kind) const {
  const std::vector<std::uint8_t> dump = Build(kind);
  std::filesystem::path temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(dump.data()), static_cast<std::streamsize>(dump.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temp, ignored);
      throw std::runtime_error("cannot write " + temp.string());
    }
  }
  std::filesystem::rename(temp, path);  // throws filesystem_error on failure
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "w9x-smbios-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace w9x::smbios::testing
