// CFile's status record: the attribute byte over the machine's two stores (read-only is the
// host file's owner write bit, hidden, system and archive live in attributes.ini).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "afx/file.h"
#include "testing/test_machine.h"

namespace {

namespace fs = std::filesystem;
using w9x::testing::TestMachine;

constexpr const char* kFile = "C:\\KIT\\A.VXD";

bool HostWritable(const TestMachine& m) {
  return (fs::status(m.Host(kFile)).permissions() & fs::perms::owner_write) != fs::perms::none;
}

std::string Stored(const TestMachine& m) {
  std::ifstream in(m.Root() / "attributes.ini", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CFileStatusTest, AttributeByteRoundTrip) {
  TestMachine m;
  m.WriteFile(kFile, "x");
  fs::permissions(m.Host(kFile), fs::perms::owner_write, fs::perm_options::remove);
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus(kFile, status));
  EXPECT_EQ(status.m_attribute, CFile::readOnly | CFile::archive);

  status.m_attribute = CFile::hidden | CFile::system;
  CFile::SetStatus(kFile, status);
  EXPECT_TRUE(HostWritable(m));
  EXPECT_NE(Stored(m).find("C:\\KIT\\A.VXD=0x06"), std::string::npos) << Stored(m);
  CFileStatus again;
  ASSERT_TRUE(CFile::GetStatus(kFile, again));
  EXPECT_EQ(again.m_attribute, CFile::hidden | CFile::system);

  again.m_attribute = CFile::readOnly | CFile::archive;  // back to the default bits: nothing stored
  CFile::SetStatus(kFile, again);
  EXPECT_FALSE(HostWritable(m));
  EXPECT_EQ(Stored(m).find("A.VXD"), std::string::npos) << Stored(m);
  ASSERT_TRUE(CFile::GetStatus(kFile, status));
  EXPECT_EQ(status.m_attribute, CFile::readOnly | CFile::archive);
}

}  // namespace
