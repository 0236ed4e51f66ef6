# Writes a C++ source holding the bytes of a compiled resource file, for the host build of a
# program (see kit_embed_resources in deliverable.cmake).
#
# cmake -DRES=<file.res> -DSOURCE=<file.cpp> -P embed_resources.cmake
cmake_minimum_required(VERSION 3.25)

file(READ ${RES} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  " bytes "${bytes}")
get_filename_component(name ${RES} NAME)
file(WRITE ${SOURCE}.tmp "// Generated from ${name} at build time: the program's compiled resources.
#include <cstddef>

namespace {
alignas(4) const unsigned char kResources[] = {
  ${bytes}
};
}  // namespace

extern \"C\" const unsigned char* w9x_program_resources(std::size_t* size) {
  *size = sizeof kResources;
  return kResources;
}
")
file(RENAME ${SOURCE}.tmp ${SOURCE})
