// The machine model: the Product Name of the SMBIOS System Information structure, read through
// the maker's DMI driver.
//
// The driver answers three control codes.  11 gives a header (u32 length of the reply, two bytes,
// u16 number of table entries); 12 the structure table (u32, then one 8-byte DmiEntry per
// structure); 13, given one entry, that structure (u32 length of the reply, then the structure).
#pragma once

#include <windows.h>

#include <memory>

// One entry of the driver's structure table.  Bytes 1-3 and 6-7 are the driver's own way of naming
// the structure: the entry goes back to it unchanged as the request for the structure.
struct DmiEntry {
  BYTE Type;
  BYTE Reserved1[3];
  WORD Length;  // S: bytes in the structure
  BYTE Reserved2[2];
};
static_assert(sizeof(DmiEntry) == 8);

// What one query holds open.  Empty outside a query.
struct DmiReader {
  std::unique_ptr<BYTE[]> Table;  // the structure table as code 12 gave it, or null
  HANDLE Device = nullptr;
  WORD EntryCount = 0;

  // Closes the driver, frees the table and clears the record.
  void Close();
};

// The areas the replies are read into.
inline constexpr DWORD kDmiHeaderArea = 8;
inline constexpr DWORD kDmiStructureArea = 2048;
inline constexpr DWORD kModelNameBuffer = 512;

// Opens the driver and reads its structure table into the reader; non-zero on success.  On
// failure nothing stays open.
int OpenDmi(DmiReader& reader);

// The entry of the instance-th structure (counted from 0, in table order) of this type, or null.
const DmiEntry* FindEntry(BYTE type, int instance, const DmiEntry* entries, WORD count);

// Reads the instance-th structure of this type into `area` (kDmiStructureArea bytes) and sets
// *length to the bytes read; non-zero on success.  Fails when the structure cannot fit the area or
// the driver's reply is not the size the entry announced.
int FetchStructure(DmiReader& reader, BYTE type, int instance, BYTE* area, DWORD* length);

// Fills `name` (kModelNameBuffer bytes, cleared by the caller) with the product name, possibly
// empty, cut to kModelNameBuffer - 1 bytes.  Non-zero when the structure was read; on failure
// the buffer is untouched.
int QueryModelName(char* name);
