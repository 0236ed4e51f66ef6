// Kind 4: rename a file within its folder.
#include "afx/file.h"
#include "update_command.h"

int RenameCommand::Parse(const char* text) {
  if (!UpdateCommand::Parse(text)) return 0;
  // Without a new name there is nothing to rename to.
  if (!Param) return 0;
  if (!ResolveDestDir(DestDir)) return 0;
  CFileStatus status;
  if (!CFile::GetStatus(DestDir + FileName, status)) return 0;
  // Names that differ only in letter case are one name to Windows.
  if (lstrcmpiA(FileName, Param) == 0) return 0;
  return 1;
}

int RenameCommand::Run(int pass) {
  if (!UpdateCommand::Run(pass)) return 0;
  return MoveFileA(DestDir + FileName, DestDir + Param) ? 1 : 0;
}
