#include "machine/dmi_device.h"

#include "machine/little_endian.h"

#include <algorithm>
#include <limits>

namespace w9x {
namespace {

using le::PutDword;
using le::PutWord;
using le::Word;


// The count a call reports: what it wrote, moved by a fault's delta, kept within 0..UINT32_MAX.
std::uint32_t Reported(std::size_t written, int delta) {
  const long long count = static_cast<long long>(written) + delta;
  return static_cast<std::uint32_t>(
      std::clamp<long long>(count, 0, std::numeric_limits<std::uint32_t>::max()));
}

constexpr std::size_t kMaxEntries = std::numeric_limits<std::uint16_t>::max();
constexpr std::size_t kMaxStructureSize = std::numeric_limits<std::uint16_t>::max();

}  // namespace

DmiDevice::DmiDevice(const smbios::Table& table, DmiFaults faults)
    : major_(table.major), minor_(table.minor), faults_(faults) {
  for (const smbios::Structure& s : table.structures) {
    if (structures_.size() == kMaxEntries) break;
    if (s.Size() > kMaxStructureSize) continue;
    structures_.push_back(s);
  }
}

std::vector<std::uint8_t> DmiDevice::Entry(std::size_t i) const {
  const smbios::Structure& s = structures_.at(i);
  std::vector<std::uint8_t> entry(kEntrySize);
  entry[0] = s.type;
  entry[1] = static_cast<std::uint8_t>(s.formatted.size());
  PutWord(entry, 2, s.handle);
  PutWord(entry, 4, faults_.entry_size.value_or(static_cast<std::uint16_t>(s.Size())));
  PutWord(entry, 6, static_cast<std::uint16_t>(i));
  return entry;
}

std::vector<std::uint8_t> DmiDevice::HeaderReply() const {
  std::vector<std::uint8_t> reply(kHeaderSize + faults_.header_extra);
  PutDword(reply, 0, faults_.header_length.value_or(static_cast<std::uint32_t>(reply.size())));
  reply[4] = major_;
  reply[5] = minor_;
  PutWord(reply, 6, faults_.header_entries.value_or(static_cast<std::uint16_t>(structures_.size())));
  return reply;
}

std::vector<std::uint8_t> DmiDevice::TableReply() const {
  std::vector<std::uint8_t> reply(4 + structures_.size() * kEntrySize);
  PutDword(reply, 0, static_cast<std::uint32_t>(reply.size()));
  for (std::size_t i = 0; i < structures_.size(); ++i) {
    const std::vector<std::uint8_t> entry = Entry(i);
    std::copy(entry.begin(), entry.end(), reply.begin() + static_cast<std::ptrdiff_t>(4 + i * kEntrySize));
  }
  return reply;
}

std::optional<std::vector<std::uint8_t>> DmiDevice::StructureReply(std::span<const std::uint8_t> in) const {
  // The request must be an entry exactly as this driver handed it out.
  if (in.size() != kEntrySize) return std::nullopt;
  const std::size_t index = Word(in, 6);
  if (index >= structures_.size()) return std::nullopt;
  const std::vector<std::uint8_t> entry = Entry(index);
  if (!std::equal(entry.begin(), entry.end(), in.begin())) return std::nullopt;

  const std::size_t size = Word(entry, 4);  // S as the entry gives it
  const std::vector<std::uint8_t> bytes = structures_[index].Bytes();
  std::vector<std::uint8_t> reply(4 + size);  // a structure longer than S is cut, a shorter one padded
  std::copy_n(bytes.begin(), std::min(size, bytes.size()), reply.begin() + 4);
  PutDword(reply, 0, faults_.structure_length.value_or(static_cast<std::uint32_t>(reply.size())));
  return reply;
}

std::optional<std::uint32_t> DmiDevice::Control(std::uint32_t code, std::span<const std::uint8_t> in,
                                                std::span<std::uint8_t> out) const {
  if (faults_.failing_code == code) return std::nullopt;
  std::vector<std::uint8_t> reply;
  int delta = 0;
  switch (code) {
    case kHeaderCode:
      if (!in.empty()) return std::nullopt;
      reply = HeaderReply();
      delta = faults_.header_count_delta;
      break;
    case kTableCode:
      if (!in.empty()) return std::nullopt;
      reply = TableReply();
      delta = faults_.table_count_delta;
      break;
    case kStructureCode: {
      auto r = StructureReply(in);
      if (!r) return std::nullopt;
      reply = std::move(*r);
      delta = faults_.structure_count_delta;
      break;
    }
    default:
      return std::nullopt;
  }
  if (out.size() < reply.size()) return std::nullopt;
  std::copy(reply.begin(), reply.end(), out.begin());
  return Reported(reply.size(), delta);
}

}  // namespace w9x
