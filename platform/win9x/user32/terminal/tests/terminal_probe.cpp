// A small program for the terminal front end's tests: it shows a dialog or a window built from
// its resources (the sample resources, embedded as a program's are) and writes what the user did to a result file, one line per event.
//
//   terminal_probe RESULT dialog NAME    the dialog template NAME ("#1000"); writes "button ID KEY"
//   terminal_probe RESULT window MENU    a window with the menu MENU; a chosen command toggles
//                                        its check mark and writes "command ID"; keys write
//                                        "key ESC" or "key ALT+F4" (which ends the probe)
#include <cstdio>
#include <fstream>
#include <string>

#include "machine/text.h"
#include "user32/resources.h"
#include "user32/terminal/terminal_ui.h"

using namespace w9x;

namespace {

std::string Utf8(const std::string& cp932) { return text::ToUtf8(cp932); }

terminal::DialogView DialogOf(const DialogTemplate& t) {
  terminal::DialogView view;
  view.title = Utf8(t.title);
  for (const DialogItem& item : t.items) {
    if (item.KnownClass() == kStaticClass) {
      if ((item.style & 0x1F) == 3)  // SS_ICON
        view.icon.assign(1, '!');  // the icon it gets at run time
      else
        view.texts.push_back(Utf8(item.text.name));
    } else if (item.KnownClass() == kButtonClass && (item.style & 0xF) <= 1) {
      view.buttons.push_back({item.id, Utf8(item.text.name)});
      if ((item.style & 0xF) == 1) view.default_id = item.id;  // BS_DEFPUSHBUTTON
    }
  }
  return view;
}

std::vector<terminal::MenuEntry> EntriesOf(const std::vector<MenuItem>& items) {
  std::vector<terminal::MenuEntry> out;
  for (const MenuItem& i : items) {
    terminal::MenuEntry e;
    e.text = Utf8(i.text);
    e.id = static_cast<int>(i.id);
    e.checked = i.flags & kMfChecked;
    e.grayed = i.flags & kMfGrayed;
    e.separator = i.IsSeparator();
    e.popup = i.IsPopup();
    e.items = EntriesOf(i.items);
    out.push_back(std::move(e));
  }
  return out;
}

bool Toggle(std::vector<terminal::MenuEntry>& items, int id) {
  for (terminal::MenuEntry& e : items) {
    if (!e.popup && !e.separator && e.id == id) {
      e.checked = !e.checked;
      return true;
    }
    if (Toggle(e.items, id)) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: terminal_probe RESULT dialog ID | window MENU\n");
    return 2;
  }
  const ResourceFile* file = &ProgramResources();
  if (file->Empty()) return 2;
  std::ofstream result(argv[1]);
  const std::string mode = argv[2];
  const ResourceId name = ResourceId::Name(argv[3]);  // "#1000" for an ordinal

  if (mode == "dialog") {
    auto t = file->Dialog(name);
    if (!t) return 2;
    const terminal::DialogView view = DialogOf(*t);
    auto choice = terminal::RunDialog(view);
    if (choice)
      result << "button " << choice->id << " " << choice->key << std::endl;
    else
      result << "end" << std::endl;
    return 0;
  }
  if (mode == "window") {
    auto menu = file->Menu(name);
    if (!menu) return 2;
    terminal::WindowView view{"PROBE.EXE", EntriesOf(menu->items)};
    for (;;) {
      auto input = terminal::WaitWindow(view);
      if (!input) {
        result << "end" << std::endl;
        return 0;
      }
      if (input->kind == terminal::WindowInput::kCommand) {
        result << "command " << input->command << std::endl;
        Toggle(view.menu, input->command);
      } else {
        result << "key " << input->key << std::endl;
        if (input->key == "ALT+F4") return 0;
      }
    }
  }
  return 2;
}
