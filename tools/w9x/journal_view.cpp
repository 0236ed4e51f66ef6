#include "journal_view.h"

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <ostream>

#include "machine/screen_text.h"

namespace w9x::tool {
namespace {

using nlohmann::json;

std::string Str(const json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return "(none)";
  return it->is_string() ? it->get<std::string>() : it->dump();
}

int Int(const json& j, const char* key, int fallback) {
  auto it = j.find(key);
  return it != j.end() && it->is_number_integer() ? it->get<int>() : fallback;
}

std::string Outcome(const json& j) {
  if (j.value("result", true)) return "";
  return "  FAILED (error " + std::to_string(j.value("error", 0)) + ")";
}

}  // namespace

std::string DescribeEvent(const std::string& line) {
  json j = json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return "? " + line + "\n";
  const std::string event = j.value("event", "");
  const std::string who = j.value("process", "?");
  const std::string in = "  ";
  if (event == "ProcessStart") return who + " started: " + Str(j, "command_line") + "\n";
  if (event == "ProcessExit") {
    const std::string by = j.value("ended_by", "");
    if (by == "ExitWindowsEx") return who + " was ended by the end of the session\n";
    if (by == "user") return who + " was ended by the user\n";
    return who + " ended with exit code " + Str(j, "exit_code") + "\n";
  }
  if (event == "CreateWindowExA")
    return in + "window \"" + Str(j, "title") + "\" (class " + Str(j, "class") + ", style " + Str(j, "style") + ")" +
           (j.value("visible", false) ? "" : " hidden") + "\n";
  if (event == "DestroyWindow") return in + "window \"" + Str(j, "title") + "\" destroyed\n";
  if (event == "DialogBoxParamA") {
    if (!j.contains("title")) return in + "dialog " + Str(j, "template") + "  FAILED (no such template)\n";
    std::vector<std::string> buttons;
    std::string pressed = "(none)";
    std::string body;
    if (j["texts"].is_array())
      for (auto& t : j["texts"]) body += (body.empty() ? "" : "\n") + t.get<std::string>();
    if (j["buttons"].is_array()) {
      for (auto& b : j["buttons"]) {
        buttons.push_back(b.value("text", ""));
        if (j["pressed"].is_number_integer() && b.value("id", 0) == j["pressed"].get<int>()) pressed = b.value("text", "");
      }
    }
    if (j.contains("key")) pressed = Str(j, "key") + " -> " + pressed;
    return in + "dialog " + Str(j, "template") + ":\n" +
           RenderMessageBox(Str(j, "title"), body, j.value("icon", ""), buttons, pressed + " (" + Str(j, "by") + ")") +
           in + "dialog result " + Str(j, "result") + "\n";
  }
  if (event == "MenuCommand")
    return in + "menu command " + Str(j, "id") + " " + Str(j, "text") + " (" + Str(j, "by") + ")" +
           (j.value("result", true) ? "" : "  NOT AN ITEM OF A SHOWN MENU") + "\n";
  if (event == "Key") return in + "key " + Str(j, "key") + " (" + Str(j, "by") + ")\n";
  if (event == "UserClose") {
    const std::string how = j.value("how", "");
    if (how == "ALT+F4") return in + "the user closes \"" + Str(j, "title") + "\" with Alt+F4 (nothing else to do)\n";
    if (how == "close-program") return in + "the user closes the hidden program (close-program dialog)\n";
    return in + "the user ends the program that does not close (close-program dialog)\n";
  }
  if (event == "SetTimer") return in + "timer " + Str(j, "id") + " every " + Str(j, "period") + " ms\n";
  if (event == "WM_TIMER") return in + "timer " + Str(j, "id") + " fires at " + Str(j, "at") + " ms\n";
  if (event == "ExitWindowsEx") {
    std::string line = in + "ExitWindowsEx flags " + Str(j, "flags") + " (" + Str(j, "kind") +
                       (j.value("force", false) ? ", forced" : "") + ")";
    if (j["asked"].is_array())
      for (auto& a : j["asked"])
        line += "\n" + in + in + "\"" + a.value("title", "") + "\" of " + a.value("owner", "") + " answers " +
                std::to_string(a.value("answer", 0));
    return line + "\n" + in + (j.value("result", 0) ? "the session ends" : "the session goes on (refused)") + "\n";
  }
  if (event == "CreateWindow") return who + " window \"" + Str(j, "title") + "\" is open\n";
  if (event == "CreateMutexA")
    return in + "mutex " + Str(j, "name") + (j.value("already_exists", false) ? " already exists" : "") + "\n";
  if (event == "CopyFileA") return in + "copy " + Str(j, "from") + " -> " + Str(j, "to") + Outcome(j) + "\n";
  if (event == "DeleteFileA") return in + "delete " + Str(j, "path") + Outcome(j) + "\n";
  if (event == "MoveFileA") return in + "rename " + Str(j, "from") + " -> " + Str(j, "to") + Outcome(j) + "\n";
  if (event == "CreateDirectoryA")
    return j.value("result", false) ? in + "create folder " + Str(j, "path") + "\n" : std::string();
  if (event == "SetFileAttributesA")
    return in + "attributes of " + Str(j, "path") + " = " + Str(j, "attributes") + Outcome(j) + "\n";
  if (event == "WritePrivateProfileStringA") {
    std::string what = j["key"].is_null()     ? "section removed"
                       : j["value"].is_null() ? Str(j, "key") + " removed"
                                              : Str(j, "key") + "=" + Str(j, "value");
    return in + "profile " + Str(j, "file") + " [" + Str(j, "section") + "] " + what + Outcome(j) + "\n";
  }
  if (event == "WritePrivateProfileSectionA") {
    const json& lines = j["lines"];
    std::string last = lines.is_array() && !lines.empty() ? ", last: " + lines.back().get<std::string>() : "";
    return in + "profile " + Str(j, "file") + " [" + Str(j, "section") + "] written (" +
           std::to_string(lines.is_array() ? lines.size() : 0) + " lines" + last + ")" + Outcome(j) + "\n";
  }
  if (event == "WinExec") {
    // Above 31 the program was started; 2 is the usual failure: no such program.
    const int result = Int(j, "result", 0);
    const int show = Int(j, "show", 1);
    std::string line = in + "start \"" + Str(j, "command_line") + "\"" +
                       (show == 0 ? " hidden" : " (show " + std::to_string(show) + ")");
    if (result > 31) return line + ": " + Str(j, "program") + "\n";
    return line + "  FAILED (" + (result == 2 ? std::string("no such program") : "result " + std::to_string(result)) + ")\n";
  }
  if (event == "ShowWindow")
    return in + (j.value("visible", true) ? "show" : "hide") + " window \"" + Str(j, "title") + "\" of " +
           Str(j, "owner") + "\n";
  if (event == "Sleep") return in + "wait " + Str(j, "ms") + " ms\n";
  if (event == "MessageBoxA") {
    std::vector<std::string> buttons;
    if (j["buttons"].is_array())
      for (auto& b : j["buttons"]) buttons.push_back(b.get<std::string>());
    return RenderMessageBox(Str(j, "title"), Str(j, "text"), j.value("icon", ""), buttons, Str(j, "pressed"));
  }
  if (event == "RegCreateKeyA") return in + "registry: create key " + Str(j, "key") + Outcome(j) + "\n";
  if (event == "RegDeleteKeyA") return in + "registry: delete key " + Str(j, "key") + Outcome(j) + "\n";
  if (event == "RegSetValueExA" || event == "RegDeleteValueA") {
    const std::string name = j.value("name", "");
    const std::string shown = name.empty() ? "@" : "\"" + name + "\"";
    if (event == "RegDeleteValueA")
      return in + "registry: delete value " + shown + " of " + Str(j, "key") + Outcome(j) + "\n";
    return in + "registry: " + Str(j, "key") + " " + shown + " = " + Str(j, "data") + Outcome(j) + "\n";
  }
  if (event == "CreateFileA" && j.value("device", false))
    return in + "open device " + Str(j, "path") + (j.value("result", false) ? "" : "  FAILED (no such device)") + "\n";
  if (event == "CreateFileA" || event == "WriteFile")
    return in + (event == "WriteFile" ? "write " + Str(j, "bytes") + " bytes to " : "open for writing ") + Str(j, "path") +
           Outcome(j) + "\n";
  if (event == "GetTempFileNameA")
    return in + "create temporary file " + (j.value("result", false) ? Str(j, "name") : "in " + Str(j, "folder")) +
           Outcome(j) + "\n";
  if (event == "fopen") return in + "open " + Str(j, "path") + " to write (" + Str(j, "mode") + ")" + Outcome(j) + "\n";
  if (event == "fclose") return in + "close " + Str(j, "path") + ": " + Str(j, "bytes") + " bytes written" + Outcome(j) + "\n";
  if (event == "SetCurrentDirectoryA" || event == "FindWindowA" || event == "DeviceIoControl" ||
      event == "RegisterClassA" || event == "RegisterClassExA" || event == "KillTimer" || event == "SetWindowPos" ||
      event == "CreateThread")
    return "";
  json rest = j;
  for (const char* k : {"event", "process", "pid"}) rest.erase(k);
  return in + event + " " + rest.dump() + "\n";
}

bool PrintJournal(const std::string& file, std::ostream& out) {
  std::ifstream in(file);
  if (!in) return false;
  // Processes run side by side (a program started by WinExec writes while its starter goes on):
  // when the lines of one process resume after another's, say whose they are.
  std::map<int, std::string> command_lines;
  int last_pid = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    const std::string text = DescribeEvent(line);
    json j = json::parse(line, nullptr, false);
    const int pid = j.is_object() ? Int(j, "pid", 0) : 0;
    const std::string event = j.is_object() ? j.value("event", "") : "";
    if (event == "ProcessStart") command_lines[pid] = Str(j, "command_line");
    if (text.empty()) continue;
    if (pid != 0 && last_pid != 0 && pid != last_pid && event != "ProcessStart") {
      auto known = command_lines.find(pid);
      out << Str(j, "process") << " (" << (known != command_lines.end() ? known->second : "pid " + std::to_string(pid))
          << ") goes on:\n";
    }
    if (pid != 0) last_pid = pid;
    out << text;
  }
  return true;
}

}  // namespace w9x::tool
