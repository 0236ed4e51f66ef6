// Starting programs.
#include <string>

#include "conformance.h"

namespace conformance {
namespace {

TEST(WinExec, MissingFile) {
  // WinExec answers like the old LoadModule: a value above 31 for a started program, an error
  // code otherwise (2: file not found).
  const std::string missing = Scratch("NOPROG.EXE");
  EXPECT_EQ(WinExec(missing.c_str(), SW_HIDE), 2u);
  EXPECT_EQ(WinExec((missing + " C:\\CONFORM\\SETUP.INF").c_str(), SW_HIDE), 2u);
  EXPECT_EQ(WinExec("NOPROGRAM-ANYWHERE", SW_HIDE), 2u);
}

}  // namespace
}  // namespace conformance
