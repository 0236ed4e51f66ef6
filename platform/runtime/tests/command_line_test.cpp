#include <gtest/gtest.h>

#include <string>

#include "command_line.h"

namespace {

struct ArgumentsCase {
  const char* command_line;
  const char* arguments;
};

class ArgumentsOfTest : public testing::TestWithParam<ArgumentsCase> {};

TEST_P(ArgumentsOfTest, SkipsTheProgramNameAndTheBlanksAfterIt) {
  EXPECT_EQ(std::string(kit_runtime::ArgumentsOf(GetParam().command_line)), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArgumentsOfTest,
    testing::Values(
        ArgumentsCase{"C:\\KIT\\DRUPDATE.EXE /q", "/q"},
        // several blanks, spaces and tabs mixed, all go
        ArgumentsCase{"C:\\KIT\\DRUPDATE.EXE \t  /q x", "/q x"},
        // blanks inside the arguments and at their end stay
        ArgumentsCase{"A.EXE a  b\t", "a  b\t"},
        // a quoted name runs to the closing quote, blanks inside it included
        ArgumentsCase{"\"C:\\Program Files\\KIT\\A.EXE\" /s", "/s"},
        // text right after the closing quote is already the arguments
        ArgumentsCase{"\"A.EXE\"/s", "/s"},
        // an unclosed quote takes the whole line
        ArgumentsCase{"\"C:\\KIT\\A.EXE /s", ""},
        // no arguments, with and without blanks after the name
        ArgumentsCase{"A.EXE", ""}, ArgumentsCase{"A.EXE   ", ""}, ArgumentsCase{"\"A.EXE\"", ""},
        // an empty command line
        ArgumentsCase{"", ""},
        // a tab ends an unquoted name just as a space does
        ArgumentsCase{"A.EXE\t/q", "/q"},
        // a double-byte folder name (code page 932): bytes above 0x7F are part of the name, and
        // the second byte of 表 is 0x5C, a backslash
        ArgumentsCase{"C:\\\x95\x5C\x8E\xA6\\A.EXE /q", "/q"},
        ArgumentsCase{"\"C:\\\x95\x5C \x8E\xA6\\A.EXE\" /q", "/q"}));

TEST(ArgumentsOf, NoCommandLineGivesNoArguments) { EXPECT_STREQ(kit_runtime::ArgumentsOf(nullptr), ""); }

}  // namespace
