#include "user32/dialogs.h"

#include <cstdio>
#include <iostream>

#include "machine/screen_text.h"
#include "user32/user_input.h"
#include "user32/user_state.h"

namespace w9x::user32 {
namespace {

// What the dialog manager keeps of one running modal dialog.
struct DialogRun {
  std::string template_name;
  int pressed = 0;
  std::string key;  // "ENTER", "ESC" or empty for a button
  std::string by;
};
std::mutex g_runs_mutex;
std::map<std::uint32_t, DialogRun> g_runs;

std::string IconName(HICON icon) {
  switch (reinterpret_cast<std::uintptr_t>(icon)) {
    case 0x10000 + 32513: return "x";
    case 0x10000 + 32514: return "?";
    case 0x10000 + 32515: return "!";
    case 0x10000 + 32516: return "i";
    default: return icon ? "*" : "";
  }
}

bool IsButton(const Window& w) { return text::EqualNoCase(w.class_name, "BUTTON"); }

}  // namespace

DialogBaseUnits BaseUnitsOf(const DialogTemplate& t) {
  if (!(t.style & DS_SETFONT) || t.point_size == 0) return {8, 16};
  if (t.point_size == 8) return {6, 13};
  if (t.point_size == 9) return {6, 12};
  const int height = (t.point_size * 4 + 1) / 3;
  return {std::max(1, height / 2), height};
}

RECT DialogWindowRect(const DialogTemplate& t) {
  const DialogBaseUnits u = BaseUnitsOf(t);
  const int frame = GetSystemMetrics(SM_CXDLGFRAME);
  const int width = t.cx * u.x / 4 + 2 * frame;
  const int height = t.cy * u.y / 8 + 2 * GetSystemMetrics(SM_CYDLGFRAME) +
                     ((t.style & WS_CAPTION) == WS_CAPTION ? GetSystemMetrics(SM_CYCAPTION) : 0);
  const int x = t.x * u.x / 4, y = t.y * u.y / 8;
  return RECT{x, y, x + width, y + height};
}

int DefaultButtonOf(const std::shared_ptr<Window>& dialog) {
  for (auto& child : User().windows.Children(dialog->id))
    if (IsButton(*child) && (child->style & 0x0F) == BS_DEFPUSHBUTTON) return child->control_id;
  return IDOK;
}

DialogView ViewOf(const std::shared_ptr<Window>& dialog, const std::string& template_name) {
  DialogView v;
  v.template_name = template_name;
  v.title = text::ToUtf8(dialog->title);
  const int default_id = DefaultButtonOf(dialog);
  for (auto& child : User().windows.Children(dialog->id)) {
    if (IsButton(*child)) {
      v.buttons.push_back({child->control_id, text::ToUtf8(child->title), child->control_id == default_id});
    } else if (text::EqualNoCase(child->class_name, "STATIC")) {
      if ((child->style & 0x1F) == SS_ICON) {
        if (v.icon.empty()) v.icon = IconName(child->icon);
      } else {
        v.texts.push_back(text::ToUtf8(child->title));
      }
    }
  }
  return v;
}

void PressInDialog(const std::shared_ptr<Window>& dialog, DialogKey key, int id, const std::string& by) {
  if (key == DialogKey::kEnter) id = DefaultButtonOf(dialog);
  if (key == DialogKey::kEscape) id = IDCANCEL;
  {
    std::lock_guard lock(g_runs_mutex);
    DialogRun& run = g_runs[dialog->id];
    run.pressed = id;
    run.key = key == DialogKey::kEnter ? "ENTER" : key == DialogKey::kEscape ? "ESC" : "";
    run.by = by;
  }
  HWND control = nullptr;
  for (auto& child : User().windows.Children(dialog->id))
    if (child->control_id == id) control = child->Handle();
  Send(dialog->Handle(), WM_COMMAND, static_cast<WPARAM>(id & 0xFFFF) | (WPARAM{BN_CLICKED} << 16),
       reinterpret_cast<LPARAM>(control));
}

LRESULT CALLBACK DialogClassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto w = User().windows.Get(hwnd);
  if (w && w->dialog_proc) {
    INT_PTR handled = w->dialog_proc(hwnd, message, wparam, lparam);
    if (handled) return message == WM_INITDIALOG ? handled : TRUE;
  }
  switch (message) {
    case WM_INITDIALOG:
      return FALSE;
    case WM_CLOSE:
      // The dialog manager turns a close into the Cancel command.
      Send(hwnd, WM_COMMAND, IDCANCEL, 0);
      return 0;
    case DM_GETDEFID:
      return w ? MAKELONG(DefaultButtonOf(w), DC_HASDEFID) : 0;
    default:
      return DefWindowProcA(hwnd, message, wparam, lparam);
  }
}

LRESULT CALLBACK ButtonClassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK StaticClassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == STM_SETICON || message == STM_GETICON) {
    auto w = User().windows.Get(hwnd);
    if (!w) return 0;
    HICON previous = w->icon;
    if (message == STM_SETICON) w->icon = reinterpret_cast<HICON>(wparam);
    return reinterpret_cast<LRESULT>(previous);
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

}  // namespace w9x::user32

using namespace w9x;
using namespace w9x::user32;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  const ResourceId rid = ResourceId::Of(name);
  auto resources = CurrentModuleResources();
  auto t = resources ? resources->Dialog(rid) : std::nullopt;
  if (!t) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    api::Record("DialogBoxParamA", {{"template", rid.ToString()}, {"result", -1}});
    return -1;
  }
  UserState& user = User();
  const RECT r = DialogWindowRect(*t);
  const DWORD style = t->style & ~static_cast<DWORD>(WS_VISIBLE | WS_CHILD);
  HWND hwnd = CreateWindowExA(t->ex_style, "#32770", t->title.c_str(), style, r.left, r.top, r.right - r.left,
                              r.bottom - r.top, owner, nullptr, instance, nullptr);
  auto dialog = hwnd ? user.windows.Get(hwnd) : nullptr;
  if (!dialog) {
    api::Record("DialogBoxParamA", {{"template", rid.ToString()}, {"result", -1}});
    return -1;
  }
  dialog->dialog_proc = proc;
  {
    std::lock_guard lock(g_runs_mutex);
    g_runs[dialog->id] = DialogRun{rid.ToString()};
  }
  // Controls: positions in dialog units from the client area's corner.
  const DialogBaseUnits u = BaseUnitsOf(*t);
  const int frame = GetSystemMetrics(SM_CXDLGFRAME);
  const int top = GetSystemMetrics(SM_CYDLGFRAME) + ((t->style & WS_CAPTION) == WS_CAPTION ? GetSystemMetrics(SM_CYCAPTION) : 0);
  HWND first_tab_stop = nullptr;
  for (const DialogItemTemplate& item : t->items) {
    HWND control = CreateWindowExA(item.ex_style, item.class_name.c_str(), item.text.c_str(), item.style | WS_CHILD,
                                   frame + item.x * u.x / 4, top + item.y * u.y / 8, item.cx * u.x / 4,
                                   item.cy * u.y / 8, hwnd,
                                   reinterpret_cast<HMENU>(static_cast<std::intptr_t>(static_cast<short>(item.id))),
                                   instance, nullptr);
    if (control && !first_tab_stop && (item.style & WS_TABSTOP)) first_tab_stop = control;
  }
  CallProcedure(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first_tab_stop), param);
  if (!dialog->dialog_ended) ShowLocal(dialog, SW_SHOW, nullptr);

  const DialogView view = ViewOf(dialog, rid.ToString());
  std::string body;
  for (const std::string& line : view.texts) body += (body.empty() ? "" : "\n") + line;
  std::vector<std::string> names;
  for (const DialogButton& b : view.buttons) names.push_back(b.text);

  while (!dialog->dialog_ended) {
    MSG msg;
    if (!NextMessage(nullptr, msg, dialog)) {
      // WM_QUIT during a modal loop ends the loop; the quit goes back for the caller's loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (msg.message == WM_NULL && !msg.hwnd) continue;
    auto target = msg.hwnd ? user.windows.Get(msg.hwnd) : nullptr;
    const bool for_dialog = target && (target->id == dialog->id || target->parent == dialog->id);
    if (for_dialog && msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
      PressInDialog(dialog, msg.wParam == VK_RETURN ? DialogKey::kEnter : DialogKey::kEscape, 0, "key");
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }

  const INT_PTR result = dialog->dialog_ended ? dialog->dialog_result : IDCANCEL;
  DialogRun run;
  {
    std::lock_guard lock(g_runs_mutex);
    run = g_runs[dialog->id];
    g_runs.erase(dialog->id);
  }
  nlohmann::ordered_json buttons = nlohmann::ordered_json::array();
  for (const DialogButton& b : view.buttons) buttons.push_back({{"id", b.id}, {"text", b.text}});
  nlohmann::ordered_json fields = {{"template", rid.ToString()}, {"title", view.title}, {"texts", view.texts},
                                   {"icon", view.icon},          {"buttons", buttons}};
  if (run.by.empty()) {
    fields["pressed"] = nullptr;
  } else {
    fields["pressed"] = run.pressed;
    if (!run.key.empty()) fields["key"] = run.key;
    fields["by"] = run.by;
  }
  fields["result"] = result;
  api::Record("DialogBoxParamA", std::move(fields));
  if (!DialogUiActive()) {
    std::string pressed;
    for (const DialogButton& b : view.buttons)
      if (!run.by.empty() && b.id == run.pressed) pressed = b.text;
    if (pressed.empty() && !run.by.empty()) pressed = run.key.empty() ? std::to_string(run.pressed) : run.key;
    std::cout << RenderMessageBox(view.title, body, view.icon, names, pressed) << std::flush;
  }
  DestroyWindow(hwnd);
  return result;
}

BOOL WINAPI EndDialog(HWND hwnd, INT_PTR result) {
  auto w = User().windows.Get(hwnd);
  if (!w || !text::EqualNoCase(w->class_name, "#32770")) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->dialog_result = result;
  w->dialog_ended = true;
  if (w->visible) ShowLocal(w, SW_HIDE, nullptr);
  User().CurrentQueue().Wake();
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  for (auto& child : User().windows.Children(IdOf(dialog)))
    if (child->control_id == id) return child->Handle();
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
  HWND control = GetDlgItem(dialog, id);
  return control ? Send(control, message, wparam, lparam) : 0;
}

int WINAPI GetDlgCtrlID(HWND hwnd) {
  auto w = User().windows.Get(hwnd);
  return w && !w->TopLevel() ? w->control_id : 0;
}
