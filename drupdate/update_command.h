// The update script: its command objects and the list that owns them.
#pragma once

#include <windows.h>

#include "afx/collections.h"
#include "afx/string.h"

// One line of the "Command" section: the fields every kind shares, and the applicability test.
class UpdateCommand {
 public:
  UpdateCommand() = default;
  virtual ~UpdateCommand();
  UpdateCommand(const UpdateCommand&) = delete;
  UpdateCommand& operator=(const UpdateCommand&) = delete;

  // Takes the text after the line's first comma; non-zero keeps the command.
  virtual int Parse(const char* text);
  // The base test: non-zero when the command is to run in this pass.  A kind's Run returns
  // non-zero when it is done.
  virtual int Run(int pass);

  // Fills `dir` with the destination folder (ending in a backslash) unless DestDir is already
  // set; non-zero when a folder is known.
  int ResolveDestDir(CString& dir);

  char* ArgText = nullptr;      // the command's copy of its argument text, cut at the commas
  char* FileName = nullptr;     // field 0
  char* Param = nullptr;        // field 1, null when absent
  int DirId = 0;                // field 2
  int Pass = 1;                 // field 3
  int OsMask = -1;              // field 4
  int KeyboardCond = 0;         // field 5
  CString ModelPattern;         // field 6
  CString SourceDir;
  CString DestDir;
};

// Kind 1: copy a file from the kit into the destination folder.
class CopyCommand : public UpdateCommand {
 public:
  int Parse(const char* text) override;
  int Run(int pass) override;
};

// Kind 2: delete a file, or have Windows delete it at its next start.
class DeleteCommand : public UpdateCommand {
 public:
  int Parse(const char* text) override;
  int Run(int pass) override;
};

// Kind 3: install an INF file through the Windows setup components, or start a program.
class InfCommand : public UpdateCommand {
 public:
  int Parse(const char* text) override;
  int Run(int pass) override;
};

// Kind 4: rename a file within its folder.
class RenameCommand : public UpdateCommand {
 public:
  int Parse(const char* text) override;
  int Run(int pass) override;
};

// The script's commands in script order.  Owns them: a command that reports itself done is
// destroyed at once, the rest with the list.
class CommandList {
 public:
  CommandList() = default;
  virtual ~CommandList();
  CommandList(const CommandList&) = delete;
  CommandList& operator=(const CommandList&) = delete;

  // Reads the "Command" section of the script; 0 only when a command object cannot be created.
  int Load();
  // Offers the pass to every command still in the list.
  void RunPass(int pass);

  CPtrList Items;

 protected:
  // A new command of kind 1 to 4 with all fields at their defaults, or null when it cannot be
  // created.
  virtual UpdateCommand* CreateCommand(int kind);
};

// The values of the script's "Command" section from key "0" on, up to the first key that is
// missing or empty; each value as read into a 512-byte buffer.
void ReadScriptLines(const char* ini, CStringList& lines);
// Splits a script line at its first comma: the kind (1 to 4; 0 for any other kind, -1 when the
// line has no comma), with `arguments` set to the text after the comma.  Cuts `text` there.
int SplitScriptLine(char* text, char** arguments);

// 0 when `name` matches `pattern` ("*" matches the rest, "?" one byte, on either side).
int MatchModel(const char* pattern, const char* name);
// Non-zero when the folder OPTIONS exists at the root of the Windows drive.
int OptionsFolderExists();
// Creates the folder and its parents when missing; non-zero when it exists afterwards.
int EnsureFolder(const char* path);
// Adds `line` at the end of `section` of the INI file; 1 when the section was written.
int AppendSectionLine(const char* section, const char* line, const char* ini_path);

// The Windows folder with a backslash at its end.
CString WindowsFolder();
// True when the text's last character (not a trail byte) is a backslash.
bool EndsWithBackslash(const char* text);
