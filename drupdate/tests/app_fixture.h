// The update program's application object on a temporary machine.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "machine/text.h"
#include "testing/test_machine.h"
#include "update_app.h"

namespace drupdate_test {

using w9x::testing::Sjis;
using w9x::testing::TestMachine;
using w9x::testing::TestMachineOptions;

inline TestMachineOptions Options(const std::string& preset, bool journal = false) {
  TestMachineOptions o;
  o.preset = preset;
  o.journal = journal;
  o.session.fast = true;  // Sleep(2500) takes no time
  return o;
}

class AppFixture {
 public:
  explicit AppFixture(TestMachineOptions options = Options("win98se")) : machine(std::move(options)) {
    app.SetCurrentHandles(nullptr, nullptr, SW_SHOWNORMAL);
    app.LocateIni();
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    app.ClassifyWindows(version);
  }

  // The script beside the program, from UTF-8 text.
  void WriteScript(const std::string& utf8) const {
    machine.WriteFile(w9x::text::ToUtf8(static_cast<const char*>(app.IniPath)), Sjis(utf8));
  }

  TestMachine machine;
  UpdateApp app;
};

}  // namespace drupdate_test
