// smbios_dump: writes an SMBIOS dump with one System Information structure, a base board and the
// end-of-table structure, as the machine images' smbios.bin.
//
//   smbios_dump FILE [--product NAME] [--manufacturer NAME] [--kind v2|v3|legacy|bare]
#include <cstdio>
#include <string>

#include "smbios_builder.h"

int main(int argc, char** argv) {
  using namespace w9x::smbios::testing;
  if (argc < 2) {
    std::fprintf(stderr, "usage: smbios_dump FILE [--product NAME] [--manufacturer NAME] [--kind v2|v3|legacy|bare]\n");
    return 2;
  }
  SystemInfoDesc info;
  DumpKind kind = DumpKind::V2;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--product") info.product = value;
    else if (option == "--manufacturer") info.manufacturer = value;
    else if (option == "--kind") kind = value == "v3" ? DumpKind::V3 : value == "legacy" ? DumpKind::Legacy
                                      : value == "bare" ? DumpKind::Bare : DumpKind::V2;
    else {
      std::fprintf(stderr, "smbios_dump: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  DumpBuilder dump;
  dump.AddSystemInfo(info)
      .Add({.type = 2, .handle = 0x0002, .fields = {1, 2}, .strings = {info.manufacturer, "Base Board"}})
      .AddEndOfTable();
  dump.WriteFile(argv[1], kind);
  return 0;
}
