#include "user32/user_input.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "user32/user_state.h"

namespace w9x::user32 {
namespace {

std::mutex g_mutex;
std::shared_ptr<TerminalFrontEnd> g_front_end;
int g_start_fd = -1;
bool g_started_detached = false;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::shared_ptr<TerminalFrontEnd> FrontEnd() {
  std::lock_guard lock(g_mutex);
  if (!g_front_end || !CurrentMachine().RunSession().Settings().interactive) return nullptr;
  return g_front_end;
}

bool Detached() {
  std::lock_guard lock(g_mutex);
  return g_started_detached;
}

// Tells `w9x start` that the program waits; once.
void NotifyStarter() {
  std::lock_guard lock(g_mutex);
  if (g_start_fd < 0) return;
  char c = 1;
  ssize_t n = write(g_start_fd, &c, 1);
  (void)n;
  close(g_start_fd);
  g_start_fd = -1;
}

[[noreturn]] void EndProcess(const std::string& how) {
  api::Record("ProcessExit", {{"exit_code", 0}, {"ended_by", how}});
  CurrentMachine().Shared().DestroyWindowsOf(CurrentProcess().Id());
  CurrentMachine().Shared().UnregisterProcess(CurrentProcess().Id());
  std::fflush(nullptr);
  std::_Exit(0);
}

WindowView ViewOfWindow(const std::shared_ptr<Window>& w) {
  WindowView v;
  v.hwnd = w->Handle();
  v.title = text::ToUtf8(w->title);
  v.menu = w->menu;
  if (w->menu) v.lines = DescribeMenu(User().menus, w->menu);
  return v;
}

bool DialogIdle(const std::shared_ptr<Window>& dialog) {
  UserState& user = User();
  Session& session = CurrentMachine().RunSession();
  if (auto answer = session.NextAnswer()) {
    user.unanswered_idle = 0;
    auto press = ParseDialogAnswer(*answer);
    bool exists = press && press->key != DialogKey::kButton;
    for (auto& child : press && !exists ? user.windows.Children(dialog->id) : std::vector<std::shared_ptr<Window>>{})
      if (child->control_id == press->id && text::EqualNoCase(child->class_name, "BUTTON")) exists = true;
    if (exists) {
      PressInDialog(dialog, press->key, press->id, "answer");
    } else {
      std::fprintf(stderr, "w9x: answer %s is not a button of this dialog; Enter pressed\n", answer->c_str());
      PressInDialog(dialog, DialogKey::kEnter, 0, "default");
    }
    return true;
  }
  if (auto fe = FrontEnd()) {
    if (auto press = fe->DialogPress(ViewOf(dialog, ""))) {
      user.unanswered_idle = 0;
      PressInDialog(dialog, press->key, press->id, "terminal");
      return true;
    }
  }
  // The default a user gets by pressing Enter; a dialog that stays up after that gets Escape,
  // and one that stays up even then is ended with its program.
  switch (user.unanswered_idle++) {
    case 0: PressInDialog(dialog, DialogKey::kEnter, 0, "default"); return true;
    case 1: PressInDialog(dialog, DialogKey::kEscape, 0, "default"); return true;
    default:
      api::Record("UserClose", {{"hwnd", dialog->id}, {"title", api::Utf8(dialog->title)}, {"how", "end-task"}});
      EndProcess("user");
  }
}

}  // namespace

void SetTerminalFrontEnd(std::shared_ptr<TerminalFrontEnd> front_end) {
  std::lock_guard lock(g_mutex);
  g_front_end = std::move(front_end);
}

bool DialogUiActive() { return FrontEnd() != nullptr; }

void SetStartNotification(int fd) {
  std::lock_guard lock(g_mutex);
  g_start_fd = fd;
  g_started_detached = fd >= 0;
}

std::optional<TerminalFrontEnd::Press> ParseDialogAnswer(const std::string& answer) {
  const std::string a = Upper(answer);
  if (a == "OK") return TerminalFrontEnd::Press{DialogKey::kButton, IDOK};
  if (a == "CANCEL") return TerminalFrontEnd::Press{DialogKey::kButton, IDCANCEL};
  if (a == "YES") return TerminalFrontEnd::Press{DialogKey::kButton, IDYES};
  if (a == "NO") return TerminalFrontEnd::Press{DialogKey::kButton, IDNO};
  if (a == "ENTER") return TerminalFrontEnd::Press{DialogKey::kEnter, 0};
  if (a == "ESC" || a == "ESCAPE") return TerminalFrontEnd::Press{DialogKey::kEscape, 0};
  char* end = nullptr;
  long id = std::strtol(a.c_str(), &end, 10);
  if (!a.empty() && end && *end == '\0' && id >= -32768 && id <= 65535)
    return TerminalFrontEnd::Press{DialogKey::kButton, static_cast<int>(id)};
  return std::nullopt;
}

bool ParseKey(const std::string& name, WORD& vk, BYTE& modifiers) {
  std::string rest = Upper(name);
  modifiers = 0;
  for (;;) {
    auto plus = rest.find('+');
    if (plus == std::string::npos || plus + 1 == rest.size()) break;
    const std::string mod = rest.substr(0, plus);
    if (mod == "ALT") modifiers |= FALT;
    else if (mod == "CTRL") modifiers |= FCONTROL;
    else if (mod == "SHIFT") modifiers |= FSHIFT;
    else return false;
    rest = rest.substr(plus + 1);
  }
  static const std::pair<const char*, WORD> kNames[] = {
      {"ESC", VK_ESCAPE}, {"ESCAPE", VK_ESCAPE}, {"ENTER", VK_RETURN}, {"TAB", VK_TAB},    {"SPACE", VK_SPACE},
      {"LEFT", VK_LEFT},  {"RIGHT", VK_RIGHT},   {"UP", VK_UP},        {"DOWN", VK_DOWN},  {"BACKSPACE", VK_BACK}};
  for (auto& [n, v] : kNames) {
    if (rest == n) {
      vk = v;
      return true;
    }
  }
  if (rest.size() >= 2 && rest[0] == 'F') {
    int f = std::atoi(rest.c_str() + 1);
    if (f >= 1 && f <= 12 && rest == "F" + std::to_string(f)) {
      vk = static_cast<WORD>(0x70 + f - 1);
      return true;
    }
  }
  if (rest.size() == 1 && std::isalnum(static_cast<unsigned char>(rest[0]))) {
    vk = static_cast<WORD>(rest[0]);
    return true;
  }
  return false;
}

void ApplyWindowAction(const std::shared_ptr<Window>& window, const WindowAction& action, const std::string& by) {
  UserState& user = User();
  if (action.is_menu) {
    auto item = window->menu ? user.menus.FindCommand(window->menu, action.menu_id) : std::nullopt;
    const bool usable = item && !(item->flags & (MF_GRAYED | MF_DISABLED));
    api::Record("MenuCommand", {{"hwnd", window->id},
                                {"id", action.menu_id},
                                {"text", item ? nlohmann::ordered_json(text::ToUtf8(item->text)) : nlohmann::ordered_json(nullptr)},
                                {"by", by},
                                {"result", usable}});
    if (!usable) {
      std::fprintf(stderr, "w9x: menu command %u is not an item of the menu of %s\n", action.menu_id,
                   text::ToUtf8(window->title).c_str());
      return;
    }
    // Menus post their command, with 0 in the high word.
    user.QueueOf(window->thread)->Post({window->Handle(), WM_COMMAND, static_cast<WPARAM>(action.menu_id & 0xFFFF), 0});
    return;
  }
  WORD vk = 0;
  BYTE modifiers = 0;
  if (!ParseKey(action.key, vk, modifiers)) {
    std::fprintf(stderr, "w9x: %s is not a key\n", action.key.c_str());
    api::Record("Key", {{"hwnd", window->id}, {"key", action.key}, {"by", by}, {"result", false}});
    return;
  }
  api::Record("Key", {{"hwnd", window->id}, {"key", Upper(action.key)}, {"by", by}, {"result", true}});
  user.held_modifiers = static_cast<BYTE>(modifiers & (FSHIFT | FCONTROL));
  const bool alt = modifiers & FALT;
  user.QueueOf(window->thread)
      ->Post({window->Handle(), static_cast<UINT>(alt || vk == VK_F10 ? WM_SYSKEYDOWN : WM_KEYDOWN), vk,
              static_cast<LPARAM>(1 | (alt ? (1 << 29) : 0))});
}

bool UserActsOnIdle(const std::shared_ptr<Window>& dialog) {
  if (dialog) return DialogIdle(dialog);
  UserState& user = User();
  const DWORD thread = CurrentThreadId();
  std::vector<std::shared_ptr<Window>> windows = user.windows.TopLevel(thread);
  std::shared_ptr<Window> shown;
  for (auto& w : windows)
    if (w->visible && !shown) shown = w;

  if (auto input = CurrentMachine().RunSession().NextWindowInput()) {
    user.unanswered_idle = 0;
    WindowAction action;
    if (input->rfind("menu:", 0) == 0) {
      action.is_menu = true;
      action.menu_id = static_cast<UINT>(std::strtoul(input->c_str() + 5, nullptr, 10));
    } else {
      action.key = input->substr(input->find(':') + 1);
    }
    if (!shown) {
      std::fprintf(stderr, "w9x: %s: the program shows no window\n", input->c_str());
      api::Record(action.is_menu ? "MenuCommand" : "Key",
                  {{"hwnd", 0}, {action.is_menu ? "id" : "key", action.is_menu ? nlohmann::ordered_json(action.menu_id)
                                                                             : nlohmann::ordered_json(action.key)},
                   {"by", action.is_menu ? "menu" : "key"}, {"result", false}});
      return true;
    }
    ApplyWindowAction(shown, action, action.is_menu ? "menu" : "key");
    return true;
  }
  if (shown) {
    if (auto fe = FrontEnd()) {
      if (auto action = fe->WindowInput(ViewOfWindow(shown))) {
        user.unanswered_idle = 0;
        ApplyWindowAction(shown, *action, "terminal");
        return true;
      }
    }
  }
  if (Detached()) {
    NotifyStarter();
    return false;
  }
  // Nothing is left for the program to wait for: the user closes it.
  const int round = user.unanswered_idle++;
  if (shown && round < 2) {
    api::Record("UserClose", {{"hwnd", shown->id}, {"title", api::Utf8(shown->title)}, {"how", "ALT+F4"}});
    user.QueueOf(thread)->Post({shown->Handle(), WM_SYSKEYDOWN, VK_F4, static_cast<LPARAM>(1 | (1 << 29))});
    return true;
  }
  if (!shown && !windows.empty() && round == 0) {
    api::Record("UserClose", {{"hwnd", windows.front()->id}, {"title", api::Utf8(windows.front()->title)},
                              {"how", "close-program"}});
    user.QueueOf(thread)->Post({windows.front()->Handle(), WM_CLOSE, 0, 0});
    return true;
  }
  api::Record("UserClose", {{"hwnd", windows.empty() ? 0 : windows.front()->id}, {"how", "end-task"}});
  EndProcess("user");
}

}  // namespace w9x::user32
