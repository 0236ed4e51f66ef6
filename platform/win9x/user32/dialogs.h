// Modal dialog boxes made from dialog templates, and the system window classes they use: the
// dialog class (the dialog manager's default handling around the program's dialog procedure),
// buttons and statics.
//
// Sizes: dialog units become pixels through the base units of the dialog's font (6 x 12 for a
// 9-point font, 6 x 13 for 8 points, 8 x 16 for the system font); the window adds the dialog
// frame and, with WS_CAPTION, the caption to the client area.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "user32/resource_model.h"
#include "user32/window_table.h"

namespace w9x::user32 {

LRESULT CALLBACK DialogClassProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ButtonClassProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK StaticClassProc(HWND, UINT, WPARAM, LPARAM);

struct DialogBaseUnits {
  int x = 8, y = 16;
};
DialogBaseUnits BaseUnitsOf(const DialogTemplate& t);
// The window rectangle of a dialog made from the template, on the screen.
RECT DialogWindowRect(const DialogTemplate& t);

// What the user sees of a dialog (terminal, journal): texts in UTF-8.
struct DialogButton {
  int id = 0;
  std::string text;
  bool is_default = false;
};
struct DialogView {
  std::string template_name;
  std::string title;
  std::vector<std::string> texts;  // the static texts, in order
  std::string icon;                // "!", "x", "?", "i" or empty
  std::vector<DialogButton> buttons;
};
DialogView ViewOf(const std::shared_ptr<Window>& dialog, const std::string& template_name);

// The id the dialog's default button has (DM_GETDEFID), IDOK when none is marked.
int DefaultButtonOf(const std::shared_ptr<Window>& dialog);

// A press of the user in a dialog: a button by id, or Enter / Escape as the dialog manager
// handles them.  `by`: "answer", "terminal" or "default".
enum class DialogKey { kButton, kEnter, kEscape };
void PressInDialog(const std::shared_ptr<Window>& dialog, DialogKey key, int id, const std::string& by);

}  // namespace w9x::user32
