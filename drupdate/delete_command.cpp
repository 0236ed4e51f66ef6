// Kind 2: delete a file, or have Windows delete it at its next start.
#include "afx/file.h"
#include "update_command.h"

int DeleteCommand::Parse(const char* text) {
  if (!UpdateCommand::Parse(text)) return 0;
  if (!ResolveDestDir(DestDir)) return 0;
  // A file that is not there when the script is read is never acted on.
  CFileStatus status;
  return CFile::GetStatus(DestDir + FileName, status) ? 1 : 0;
}

int DeleteCommand::Run(int pass) {
  if (!UpdateCommand::Run(pass)) return 0;
  const CString path = DestDir + FileName;
  if (DeleteFileA(path)) return 1;
  // The file is in use or protected: WININIT.INI has Windows delete it before the next start.
  return AppendSectionLine("rename", "NUL=" + path, WindowsFolder() + "WININIT.INI");
}
