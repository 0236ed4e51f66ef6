// Windows, messages, timers, accelerators, dialogs and string resources: the behaviour a small
// windowed program relies on.  Window checks are message sequences: a recording window procedure
// logs the messages it is watched for, the check itself logs marks such as "CreateWindowExA has
// returned", and the log is compared with a table of expected entries.
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"
#include "window_resources.h"

namespace conformance {
namespace {

constexpr char kClass[] = "KitConformWindow";
constexpr UINT kShutdownCommand = 110;

// Marks logged by the checks themselves.
constexpr UINT kCreateReturned = WM_APP + 1;  // CreateWindowExA has returned

struct Entry {
  UINT message;
  WPARAM wParam;
  bool checkWParam;
};

// Expected entries: the message alone, or the message with its wParam.
Entry Is(UINT message) { return {message, 0, false}; }
Entry Is(UINT message, WPARAM wParam) { return {message, wParam, true}; }

std::string Name(UINT message) {
  switch (message) {
    case WM_CREATE: return "WM_CREATE";
    case WM_COMMAND: return "WM_COMMAND";
    case WM_CLOSE: return "WM_CLOSE";
    case WM_DESTROY: return "WM_DESTROY";
    case WM_TIMER: return "WM_TIMER";
    case kCreateReturned: return "(CreateWindowExA returned)";
  }
  return "message " + std::to_string(message);
}

std::string Describe(const std::vector<Entry>& entries) {
  std::string out;
  for (const Entry& e : entries) out += "  " + Name(e.message) + " wParam=" + std::to_string(e.wParam) + "\n";
  return out;
}

// The first place where the log and the expected sequence part, or success.
::testing::AssertionResult SequenceIs(const std::vector<Entry>& log, const std::vector<Entry>& expected) {
  for (std::size_t i = 0; i < std::max(log.size(), expected.size()); ++i) {
    const bool same = i < log.size() && i < expected.size() && log[i].message == expected[i].message &&
                      (!expected[i].checkWParam || log[i].wParam == expected[i].wParam);
    if (!same)
      return ::testing::AssertionFailure() << "sequences part at entry " << i << "\nlogged:\n"
                                           << Describe(log) << "expected:\n" << Describe(expected);
  }
  return ::testing::AssertionSuccess();
}

// What the recording window does, set by each check.
struct Behaviour {
  bool postCommandOnCreate = false;  // WM_CREATE posts WM_COMMAND 110 to the window
  bool quitOnDestroy = false;        // WM_DESTROY posts the quit message with quitCode
  WPARAM quitCode = 0;
};

std::vector<Entry> g_log;
Behaviour g_behaviour;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      g_log.push_back(Is(message));
      if (g_behaviour.postCommandOnCreate) PostMessageA(window, WM_COMMAND, kShutdownCommand, 0);
      return 0;
    case WM_COMMAND:
      g_log.push_back(Is(message, wParam));
      if (LOWORD(wParam) == kShutdownCommand) DestroyWindow(window);
      return 0;
    case WM_TIMER:
      g_log.push_back(Is(message, wParam));
      KillTimer(window, wParam);
      DestroyWindow(window);
      return 0;
    case WM_CLOSE:
      g_log.push_back(Is(message));
      break;  // the default handling destroys the window
    case WM_DESTROY:
      g_log.push_back(Is(message));
      if (g_behaviour.quitOnDestroy) PostQuitMessage(static_cast<int>(g_behaviour.quitCode));
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class WindowMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log.clear();
    g_behaviour = {};
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClass;
    // The class outlives a check where all checks share one process.
    if (!RegisterClassA(&wc)) {
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    }
  }

  // A hidden top-level window of the recording class, as the shutdown program makes its own.
  HWND Create(const char* title) {
    HWND window = CreateWindowExA(0, kClass, title, WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, 0, 300, 60, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    g_log.push_back(Is(kCreateReturned));
    return window;
  }

  // The message loop of a program: dispatches until GetMessageA returns 0 (or fails).
  struct LoopEnd {
    BOOL result;
    WPARAM quitCode;
  };
  LoopEnd RunLoop() {
    MSG msg = {};
    BOOL result;
    while ((result = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchMessageA(&msg);
    return {result, msg.wParam};
  }
};

// --- Sequences that end the message loop --------------------------------------------------------

enum class Start { kCommandPostedOnCreate, kTimer, kPostedClose };

struct LoopCase {
  const char* name;
  Start start;
  std::vector<Entry> expected;
};

class WindowLoop : public WindowMessages, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(WindowLoop, RunsTheSequenceAndQuitsWithTheCode) {
  const LoopCase& c = GetParam();
  g_behaviour.postCommandOnCreate = c.start == Start::kCommandPostedOnCreate;
  g_behaviour.quitOnDestroy = true;
  g_behaviour.quitCode = 7;
  HWND window = Create("KitConform");
  ASSERT_NE(window, nullptr);
  if (c.start == Start::kTimer) {
    ASSERT_NE(SetTimer(window, 1, 20, nullptr), 0u);
  }
  if (c.start == Start::kPostedClose) {
    ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
  }

  const LoopEnd end = RunLoop();
  EXPECT_EQ(end.result, 0) << "GetMessageA ends the loop on WM_QUIT with 0";
  EXPECT_EQ(end.quitCode, 7u) << "the quit message carries PostQuitMessage's code";
  EXPECT_TRUE(SequenceIs(g_log, c.expected));
  EXPECT_FALSE(IsWindow(window));
}

const LoopCase kLoopCases[] = {
    // WM_CREATE comes inside the call; a command it posts comes once the window exists and the
    // loop runs.
    {"CommandPostedOnCreate", Start::kCommandPostedOnCreate,
     {Is(WM_CREATE), Is(kCreateReturned), Is(WM_COMMAND, kShutdownCommand), Is(WM_DESTROY)}},
    // The timer's message carries its id.
    {"Timer", Start::kTimer, {Is(WM_CREATE), Is(kCreateReturned), Is(WM_TIMER, 1), Is(WM_DESTROY)}},
    // The default handling of WM_CLOSE destroys the window.
    {"CloseThroughDefaultHandling", Start::kPostedClose,
     {Is(WM_CREATE), Is(kCreateReturned), Is(WM_CLOSE), Is(WM_DESTROY)}},
};
INSTANTIATE_TEST_SUITE_P(Window, WindowLoop, ::testing::ValuesIn(kLoopCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Finding a window ---------------------------------------------------------------------------

TEST_F(WindowMessages, FindWindowFindsAHiddenWindowByClassAndTitle) {
  const char* title = "KitConform 表示";  // a trail byte 0x5C in the title
  HWND window = Create(title);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(FindWindowA(kClass, title), window);
  EXPECT_EQ(FindWindowA(kClass, nullptr), window);
  EXPECT_EQ(FindWindowA(nullptr, title), window);
  EXPECT_EQ(FindWindowA(kClass, "KitConform"), nullptr) << "the whole title must match";
  DestroyWindow(window);
  EXPECT_EQ(FindWindowA(kClass, title), nullptr);
}

// --- Accelerators ---------------------------------------------------------------------------------

struct AcceleratorCase {
  const char* name;
  UINT message;
  WPARAM key;
  bool translated;
};

class Accelerator : public WindowMessages, public ::testing::WithParamInterface<AcceleratorCase> {};

TEST_P(Accelerator, EscapeKeyDownBecomesTheHideCommand) {
  const AcceleratorCase& c = GetParam();
  HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), "KITCHECK");
  ASSERT_NE(table, nullptr);
  HWND window = Create("KitConform");
  ASSERT_NE(window, nullptr);
  g_log.clear();

  MSG msg = {};
  msg.hwnd = window;
  msg.message = c.message;
  msg.wParam = c.key;
  msg.lParam = 0x00010001;
  EXPECT_EQ(TranslateAcceleratorA(window, table, &msg) != 0, c.translated);
  // A translated key arrives at once, as a command from an accelerator (notification code 1).
  std::vector<Entry> expected;
  if (c.translated) expected.push_back(Is(WM_COMMAND, MAKEWPARAM(KIT_IDM_HIDE, 1)));
  EXPECT_TRUE(SequenceIs(g_log, expected));
  DestroyWindow(window);
}

const AcceleratorCase kAcceleratorCases[] = {
    {"EscapeDown", WM_KEYDOWN, VK_ESCAPE, true},
    // The table names a virtual key: its release and its character are not translated.
    {"EscapeUp", WM_KEYUP, VK_ESCAPE, false},
    {"EscapeCharacter", WM_CHAR, 27, false},
    // Keys outside the table pass.
    {"Enter", WM_KEYDOWN, VK_RETURN, false},
};
INSTANTIATE_TEST_SUITE_P(Window, Accelerator, ::testing::ValuesIn(kAcceleratorCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Modal dialogs ------------------------------------------------------------------------------

enum class Act { kEndDialog42, kPostOk, kPostCancel, kPostEnter, kPostEscape };

struct DialogCase {
  const char* name;
  int templateId;
  Act act;  // what the dialog procedure does in WM_INITDIALOG
  INT_PTR result;
};

Act g_act;

INT_PTR CALLBACK CheckDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      switch (g_act) {
        case Act::kEndDialog42: EndDialog(dialog, 42); break;
        case Act::kPostOk: PostMessageA(dialog, WM_COMMAND, IDOK, 0); break;
        case Act::kPostCancel: PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); break;
        case Act::kPostEnter: PostMessageA(dialog, WM_KEYDOWN, VK_RETURN, 0x001C0001); break;
        case Act::kPostEscape: PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001); break;
      }
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

class Dialog : public ::testing::TestWithParam<DialogCase> {};

TEST_P(Dialog, ReturnsTheEndDialogValue) {
  const DialogCase& c = GetParam();
  g_act = c.act;
  EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(c.templateId), nullptr, CheckDialogProc, 0),
            c.result);
}

const DialogCase kDialogCases[] = {
    {"EndDialogValue", KIT_IDD_CHECK, Act::kEndDialog42, 42},
    {"OkButton", KIT_IDD_CHECK, Act::kPostOk, IDOK},
    {"CancelButton", KIT_IDD_CHECK, Act::kPostCancel, IDCANCEL},
    // The dialog manager: Enter presses the default button, Escape means IDCANCEL.
    {"EnterPressesTheDefaultButton", KIT_IDD_CHECK, Act::kPostEnter, IDOK},
    {"EscapeCancels", KIT_IDD_CHECK, Act::kPostEscape, IDCANCEL},
    // A template that does not exist: -1, and the procedure never runs.
    {"MissingTemplate", KIT_IDD_MISSING, Act::kEndDialog42, -1},
};
INSTANTIATE_TEST_SUITE_P(Window, Dialog, ::testing::ValuesIn(kDialogCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- String resources ---------------------------------------------------------------------------

struct StringCase {
  const char* name;
  UINT id;
  const char* text;  // code page 932, as the program's literals
};

class StringTable : public ::testing::TestWithParam<StringCase> {};

TEST_P(StringTable, LoadStringGivesCodePage932) {
  const StringCase& c = GetParam();
  char buffer[100];
  std::memset(buffer, 'X', sizeof buffer);
  const int length = LoadStringA(GetModuleHandleA(nullptr), c.id, buffer, sizeof buffer);
  EXPECT_EQ(length, static_cast<int>(std::strlen(c.text)));
  EXPECT_STREQ(buffer, c.text);
}

const StringCase kStringCases[] = {
    {"Japanese", KIT_IDS_CAPTION, "Windows の終了"},
    // Line breaks survive; 表 ends in the byte 0x5C.
    {"LineBreaks", KIT_IDS_LINES, "表示\n\n機能"},
};
INSTANTIATE_TEST_SUITE_P(Window, StringTable, ::testing::ValuesIn(kStringCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StringTableMissing, LoadStringOfAMissingIdGivesZero) {
  char buffer[16] = "unchanged";
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 999, buffer, sizeof buffer), 0);
}

}  // namespace
}  // namespace conformance
