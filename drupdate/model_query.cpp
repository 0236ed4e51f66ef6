#include "model_query.h"

#include <cstring>
#include <new>

namespace {

const char kDriverName[] = "\\\\.\\vkvodmid.vxd";

constexpr DWORD kHeaderCode = 11;
constexpr DWORD kTableCode = 12;
constexpr DWORD kStructureCode = 13;

constexpr DWORD kHeaderReplyBuffer = 260;
constexpr DWORD kLengthField = 4;
constexpr BYTE kSystemInformation = 1;
constexpr DWORD kProductNameOffset = 5;

DWORD Dword(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

WORD Word(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }

// Code 11: the number of table entries, or -1.  The reply's length field must be the byte count
// the call reports, and what follows it must fit the 8-byte header area.
long ReadEntryCount(HANDLE device) {
  BYTE reply[kHeaderReplyBuffer];
  std::memset(reply, 0, sizeof reply);
  DWORD count = 0;
  if (!DeviceIoControl(device, kHeaderCode, nullptr, 0, reply, sizeof reply, &count, nullptr)) return -1;
  if (count < kLengthField || count > sizeof reply) return -1;
  const DWORD length = Dword(reply);
  if (length != count || length - kLengthField > kDmiHeaderArea) return -1;
  BYTE header[kDmiHeaderArea];
  std::memset(header, 0, sizeof header);
  std::memcpy(header, reply + kLengthField, length - kLengthField);
  return Word(header + 2);
}

}  // namespace

void DmiReader::Close() {
  if (Device) CloseHandle(Device);
  Device = nullptr;
  Table.reset();
  EntryCount = 0;
}

int OpenDmi(DmiReader& reader) {
  HANDLE device = CreateFileA(kDriverName, 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (device == INVALID_HANDLE_VALUE || device == nullptr) return 0;
  reader.Device = device;

  const long entries = ReadEntryCount(device);
  if (entries < 0) {
    reader.Close();
    return 0;
  }
  const DWORD table_size = static_cast<DWORD>(entries) * sizeof(DmiEntry) + kLengthField;
  reader.Table.reset(new (std::nothrow) BYTE[table_size]);
  if (!reader.Table) {
    reader.Close();
    return 0;
  }
  reader.EntryCount = static_cast<WORD>(entries);
  std::memset(reader.Table.get(), 0, table_size);
  DWORD count = 0;
  if (!DeviceIoControl(device, kTableCode, nullptr, 0, reader.Table.get(), table_size, &count, nullptr) ||
      count != table_size) {
    reader.Close();
    return 0;
  }
  return 1;
}

const DmiEntry* FindEntry(BYTE type, int instance, const DmiEntry* entries, WORD count) {
  int seen = 0;
  for (WORD i = 0; i < count; ++i) {
    if (entries[i].Type != type) continue;
    if (seen == instance) return &entries[i];
    ++seen;
  }
  return nullptr;
}

int FetchStructure(DmiReader& reader, BYTE type, int instance, BYTE* area, DWORD* length) {
  if (!reader.Table) return 0;
  // The entries follow the table's leading 4 bytes (the table comes from operator new[], so
  // they are aligned for their WORD field).
  const auto* entries = reinterpret_cast<const DmiEntry*>(reader.Table.get() + kLengthField);
  const DmiEntry* found = FindEntry(type, instance, entries, reader.EntryCount);
  if (!found) return 0;
  DmiEntry entry = *found;  // sent to the driver as it stands

  const DWORD size = entry.Length;
  if (size > kDmiStructureArea) return 0;
  BYTE reply[kDmiStructureArea + kLengthField];
  std::memset(reply, 0, sizeof reply);
  DWORD got = 0;
  if (!DeviceIoControl(reader.Device, kStructureCode, &entry, sizeof entry, reply, size + kLengthField, &got,
                       nullptr) ||
      got != size + kLengthField)
    return 0;
  // The structure is what follows the length field, as far as the length field says; it may not
  // claim more than the call wrote.
  const DWORD reply_length = Dword(reply);
  if (reply_length < kLengthField || reply_length > got) return 0;
  std::memcpy(area, reply + kLengthField, reply_length - kLengthField);
  *length = reply_length - kLengthField;
  return 1;
}

namespace {

// The Product Name of a System Information structure of `length` bytes: its start in `structure`
// and its length, or false when the structure's fields point outside the bytes read or the
// string has no NUL within them.  A structure that names no product gives an empty name.
bool FindProductName(const BYTE* structure, DWORD length, DWORD& start, DWORD& size) {
  start = size = 0;
  if (length <= kProductNameOffset) return false;
  const DWORD formatted = structure[1];
  const BYTE number = structure[kProductNameOffset];
  if (formatted <= kProductNameOffset || number == 0) return true;  // no Product Name field or string
  DWORD pos = formatted;
  for (BYTE skip = 1; skip < number; ++skip) {
    while (pos < length && structure[pos] != 0) ++pos;
    if (pos >= length) return false;
    ++pos;  // past the NUL
  }
  DWORD end = pos;
  while (end < length && structure[end] != 0) ++end;
  if (end >= length) return false;
  start = pos;
  size = end - pos;
  return true;
}

}  // namespace

int QueryModelName(char* name) {
  DmiReader reader;
  if (!OpenDmi(reader)) return 0;
  BYTE structure[kDmiStructureArea];
  std::memset(structure, 0, sizeof structure);
  DWORD length = 0;
  int ok = FetchStructure(reader, kSystemInformation, 0, structure, &length);
  DWORD start = 0, size = 0;
  if (ok && !FindProductName(structure, length, start, size)) ok = 0;
  if (ok) {
    if (size > kModelNameBuffer - 1) size = kModelNameBuffer - 1;
    std::memcpy(name, structure + start, size);
    name[size] = '\0';
  }
  reader.Close();
  return ok;
}
