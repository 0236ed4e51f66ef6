#include "text_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kit_runtime::FileAccess;
using kit_runtime::TextStream;

// A file in memory, read in pieces of at most `chunk` bytes so that a CR LF can fall across two
// reads; a write fails once `room` bytes have been written.
struct MemoryFile {
  std::string bytes;
  std::size_t pos = 0;
  std::size_t chunk = 3;
  std::size_t room = std::string::npos;
  bool read_fails = false;

  static int Read(void* file, char* out, unsigned size) {
    auto* f = static_cast<MemoryFile*>(file);
    if (f->read_fails) return -1;
    std::size_t n = std::min<std::size_t>({size, f->chunk, f->bytes.size() - f->pos});
    f->bytes.copy(out, n, f->pos);
    f->pos += n;
    return static_cast<int>(n);
  }
  static int Write(void* file, const char* data, unsigned size) {
    auto* f = static_cast<MemoryFile*>(file);
    if (f->bytes.size() + size > f->room) return -1;
    f->bytes.append(data, size);
    return 0;
  }
};

const FileAccess kMemory = {MemoryFile::Read, MemoryFile::Write};

// Every line fgets gives with a buffer of `size` bytes, until it gives none.
std::vector<std::string> ReadLines(const std::string& bytes, bool text, int size = 256) {
  MemoryFile file{bytes};
  TextStream stream(kMemory, &file, text, false);
  std::vector<std::string> lines;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  while (stream.Gets(buffer.data(), size)) lines.emplace_back(buffer.data());
  return lines;
}

struct ReadCase {
  const char* name;
  std::string bytes;
  bool text;
  int size;
  std::vector<std::string> lines;
};

class TextStreamRead : public testing::TestWithParam<ReadCase> {};

TEST_P(TextStreamRead, GivesTheLinesAsTheProgramSeesThem) {
  EXPECT_EQ(ReadLines(GetParam().bytes, GetParam().text, GetParam().size), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextStreamRead,
    testing::Values(
        ReadCase{"CrLfBecomesLf", "DEVICE=A\r\nDOS=HIGH\r\n", true, 256, {"DEVICE=A\n", "DOS=HIGH\n"}},
        // a line without a final line break is still a line
        ReadCase{"LastLineUnended", "A\r\nB", true, 256, {"A\n", "B"}},
        // a CR that no LF follows stays, also at the end of the file
        ReadCase{"LoneCrKept", "A\rB\r\nC\r", true, 256, {"A\rB\n", "C\r"}},
        // CR CR LF: the first CR is a lone one
        ReadCase{"CrCrLf", "A\r\r\n", true, 256, {"A\r\n"}},
        // Ctrl-Z ends the file: what follows is never read
        ReadCase{"CtrlZEnds", "A\r\nB\x1A" "C\r\nD\r\n", true, 256, {"A\n", "B"}},
        ReadCase{"CtrlZAlone", "\x1A", true, 256, {}},
        // a bare LF is a line end as it is
        ReadCase{"BareLf", "A\nB\n", true, 256, {"A\n", "B\n"}},
        // binary mode keeps every byte, Ctrl-Z included
        ReadCase{"Binary", "A\r\nB\x1A" "C", false, 256, {"A\r\n", "B\x1A" "C"}},
        // a line longer than the buffer comes in pieces of size - 1 characters
        ReadCase{"LongLineInPieces", "ABCDEFG\r\nH\r\n", true, 4, {"ABC", "DEF", "G\n", "H\n"}},
        // the piece ends right before a CR LF: the line end comes alone
        ReadCase{"PieceEndsBeforeCrLf", "ABC\r\n", true, 4, {"ABC", "\n"}},
        ReadCase{"Empty", "", true, 256, {}},
        // bytes of code page 932 (the second byte of 表 is 0x5C) pass unchanged
        ReadCase{"DoubleByte", "\x95\x5C\r\n", true, 256, {"\x95\x5C\n"}}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(TextStreamRead, AReadErrorEndsTheStream) {
  MemoryFile file{"A\r\n"};
  file.read_fails = true;
  TextStream stream(kMemory, &file, true, false);
  char buffer[16];
  EXPECT_EQ(stream.Gets(buffer, sizeof buffer), nullptr);
  EXPECT_TRUE(stream.Failed());
}

TEST(TextStreamRead, SizeOfOneGivesAnEmptyLineAndNoneGivesNothing) {
  MemoryFile file{"A"};
  TextStream stream(kMemory, &file, true, false);
  char buffer[4] = "xyz";
  EXPECT_EQ(stream.Gets(buffer, 1), buffer);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(stream.Gets(buffer, 0), nullptr);
}

struct WriteCase {
  const char* name;
  std::vector<std::string> texts;
  bool text;
  std::string bytes;
};

class TextStreamWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(TextStreamWrite, WritesTheBytes) {
  MemoryFile file;
  TextStream stream(kMemory, &file, GetParam().text, true);
  for (const std::string& t : GetParam().texts) ASSERT_EQ(stream.Puts(t.c_str()), 0);
  EXPECT_EQ(stream.Flush(), 0);
  EXPECT_EQ(file.bytes, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextStreamWrite,
    testing::Values(
        WriteCase{"LfBecomesCrLf", {"REM ", "DOS=HIGH,UMB\n"}, true, "REM DOS=HIGH,UMB\r\n"},
        // a CR already there is written as it is; its LF gets one more CR
        WriteCase{"CrStays", {"A\r\n", "B\r"}, true, "A\r\r\nB\r"},
        WriteCase{"Binary", {"A\n"}, false, "A\n"},
        WriteCase{"Nothing", {""}, true, ""},
        // more than the buffer holds at once: every byte arrives, in order
        WriteCase{"LongerThanTheBuffer", {std::string(700, 'x') + "\n" + std::string(700, 'y')}, true,
                  std::string(700, 'x') + "\r\n" + std::string(700, 'y')}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

TEST(TextStreamWrite, AFailedWriteIsReportedByPutsOrByTheFlush) {
  // A short text stays in the buffer: the failure shows when it is flushed (fclose).
  MemoryFile file;
  file.room = 0;
  TextStream stream(kMemory, &file, true, true);
  EXPECT_EQ(stream.Puts("A\n"), 0);
  EXPECT_EQ(stream.Flush(), -1);
  EXPECT_EQ(stream.Puts("B\n"), -1);

  // A text longer than the buffer fails while it is written.
  MemoryFile small;
  small.room = 10;
  TextStream full(kMemory, &small, true, true);
  EXPECT_EQ(full.Puts(std::string(2000, 'x').c_str()), -1);
  EXPECT_EQ(full.Flush(), -1);
}

TEST(TextStream, AStreamOnlyReadsOrWrites) {
  MemoryFile file{"A\n"};
  TextStream reader(kMemory, &file, true, false);
  EXPECT_EQ(reader.Puts("B"), -1);
  EXPECT_EQ(reader.Flush(), 0);
  TextStream writer(kMemory, &file, true, true);
  char buffer[8];
  EXPECT_EQ(writer.Gets(buffer, sizeof buffer), nullptr);
}

}  // namespace
