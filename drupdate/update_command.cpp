#include "update_command.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "update_app.h"

namespace {

constexpr int kMaxCommas = 6;
constexpr int kValueSize = 512;
constexpr int kFolderBufferSize = 260;

const char* FindChar(const char* s, char c) {
  for (const char* p = s; *p; p = CharNextA(p))
    if (*p == c) return p;
  return nullptr;
}

}  // namespace

CString WindowsFolder() {
  char buffer[kFolderBufferSize] = {};
  GetWindowsDirectoryA(buffer, sizeof buffer);
  CString folder = buffer;
  if (!EndsWithBackslash(folder)) folder += '\\';
  return folder;
}

bool EndsWithBackslash(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p; p = CharNextA(p)) last = p;
  return last && *last == '\\';
}

// ---------------------------------------------------------------------------------------------

UpdateCommand::~UpdateCommand() { delete[] ArgText; }

int UpdateCommand::Parse(const char* text) {
  if (!text) return 0;
  const std::size_t length = std::strlen(text);
  ArgText = new (std::nothrow) char[length + 1];
  if (!ArgText) return 0;
  std::memcpy(ArgText, text, length + 1);

  char* fields[kMaxCommas + 1] = {ArgText};
  int commas = 0;
  for (char* p = ArgText; *p;) {
    if (*p != ',') {
      p = CharNextA(p);
      continue;
    }
    *p++ = '\0';
    if (++commas > kMaxCommas) return 0;
    fields[commas] = p;
  }

  if (commas >= 6) ModelPattern = fields[6];
  if (commas >= 5) KeyboardCond = std::atoi(fields[5]);
  if (commas >= 4) OsMask = std::atoi(fields[4]);
  if (commas >= 3) Pass = std::atoi(fields[3]);
  if (commas >= 2) {
    if (fields[2][0] == '!') {
      DestDir = fields[2] + 1;
      DestDir += '\\';
      if (!OptionsFolderExists()) return 0;
      if (!EnsureFolder(DestDir)) return 0;
    } else {
      DirId = std::atoi(fields[2]);
    }
  }
  if (commas >= 1) Param = fields[1];
  FileName = fields[0];
  return 1;
}

int UpdateCommand::Run(int pass) {
  UpdateApp& app = TheApp();
  if (!ModelPattern.IsEmpty() && MatchModel(ModelPattern, app.ModelName) != 0) return 0;
  if (KeyboardCond != 0 && (app.KeyboardCheck() ? 1 : 2) != KeyboardCond) return 0;
  if (OsMask != -1 && (OsMask & app.OsKind) == 0) return 0;
  return pass == Pass ? 1 : 0;
}

int UpdateCommand::ResolveDestDir(CString& dir) {
  if (!DestDir.IsEmpty()) return 1;
  dir = WindowsFolder();
  switch (DirId) {
    case 11: dir += "SYSTEM\\"; break;
    case 17: dir += "INF\\"; break;
    case 18: dir += "HELP\\"; break;
    case 23: dir += "SYSTEM\\COLOR\\"; break;
    case 24: dir += "OPTIONS\\CABS\\"; break;
    case 30: dir = "C:\\"; break;
    case 40: dir += "SYSTEM32\\DRIVERS\\"; break;
    default: break;
  }
  return dir.IsEmpty() ? 0 : 1;
}

// ---------------------------------------------------------------------------------------------

int MatchModel(const char* pattern, const char* name) {
  const signed char* p = reinterpret_cast<const signed char*>(pattern);
  const signed char* n = reinterpret_cast<const signed char*>(name);
  for (;;) {
    if (!*p && !*n) return 0;
    if (!*p || !*n) break;
    if (*p == '*' || *n == '*') return 0;
    if (*p != '?' && *n != '?' && *p != *n) return *p - *n;
    ++p;
    ++n;
  }
  if (*p == '*' || *n == '*') return 0;
  return *p - *n;
}

int OptionsFolderExists() {
  char windows[256] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  if (char* slash = const_cast<char*>(FindChar(windows, '\\'))) slash[1] = '\0';
  CString options = windows;
  options += "OPTIONS";
  if (!SetCurrentDirectoryA(options)) return 0;
  SetCurrentDirectoryA(TheApp().AppDir);
  return 1;
}

int EnsureFolder(const char* path) {
  // The path lives in a 260-byte buffer, its trailing backslash included: a longer one is refused.
  char buffer[kFolderBufferSize];
  const std::size_t length = std::strlen(path);
  if (length >= sizeof buffer) return 0;
  std::memcpy(buffer, path, length + 1);

  const char* first = FindChar(buffer, '\\');
  if (!first) return 0;
  CString root(buffer, static_cast<int>(first - buffer) + 1);
  if (GetDriveTypeA(root) != DRIVE_FIXED) return 0;

  if (!EndsWithBackslash(buffer)) {
    if (length + 1 >= sizeof buffer) return 0;
    buffer[length] = '\\';
    buffer[length + 1] = '\0';
  }
  const char* app_dir = TheApp().AppDir;
  if (SetCurrentDirectoryA(buffer)) {
    SetCurrentDirectoryA(app_dir);
    return 1;
  }
  for (char* p = buffer; *p; p = CharNextA(p)) {
    if (*p != '\\') continue;
    *p = '\0';
    CreateDirectoryA(buffer, nullptr);
    *p = '\\';
  }
  if (!SetCurrentDirectoryA(buffer)) return 0;
  SetCurrentDirectoryA(app_dir);
  return 1;
}

// ---------------------------------------------------------------------------------------------

CommandList::~CommandList() {
  while (!Items.IsEmpty()) delete static_cast<UpdateCommand*>(Items.RemoveHead());
}

UpdateCommand* CommandList::CreateCommand(int kind) {
  switch (kind) {
    case 1: return new (std::nothrow) CopyCommand;
    case 2: return new (std::nothrow) DeleteCommand;
    case 3: return new (std::nothrow) InfCommand;
    case 4: return new (std::nothrow) RenameCommand;
    default: return nullptr;
  }
}

namespace {

// The decimal digits of n (not negative) and a NUL; out holds at least 11 bytes.
void DecimalText(int n, char* out) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
}

}  // namespace

void ReadScriptLines(const char* ini, CStringList& lines) {
  char value[kValueSize];
  char key[16];
  for (int n = 0;; ++n) {
    DecimalText(n, key);
    if (GetPrivateProfileStringA("Command", key, "", value, sizeof value, ini) == 0) break;
    lines.AddTail(value);
  }
}

int SplitScriptLine(char* text, char** arguments) {
  char* comma = const_cast<char*>(FindChar(text, ','));
  if (!comma) return -1;
  *comma = '\0';
  *arguments = comma + 1;
  const int kind = std::atoi(text);
  return kind >= 1 && kind <= 4 ? kind : 0;
}

int CommandList::Load() {
  CStringList lines;
  ReadScriptLines(TheApp().IniPath, lines);
  for (POSITION pos = lines.GetHeadPosition(); pos;) {
    CString& line = lines.GetNext(pos);
    char* arguments = nullptr;
    const int kind = SplitScriptLine(line.GetBuffer(line.GetLength()), &arguments);
    if (kind <= 0) continue;
    UpdateCommand* command = CreateCommand(kind);
    if (!command) return 0;
    if (command->Parse(arguments)) Items.AddTail(command);
    else delete command;
  }
  return 1;
}

void CommandList::RunPass(int pass) {
  for (POSITION pos = Items.GetHeadPosition(); pos;) {
    POSITION current = pos;
    auto* command = static_cast<UpdateCommand*>(Items.GetNext(pos));
    if (command->Run(pass)) {
      delete command;
      Items.RemoveAt(current);
    }
  }
}
