// Kind 1: copy a file of the kit into the system, leaving the copy writable.
#include "afx/file.h"
#include "update_app.h"
#include "update_command.h"

int CopyCommand::Parse(const char* text) {
  if (!UpdateCommand::Parse(text)) return 0;
  // Without a source folder there is nothing to copy from.
  if (!Param) return 0;
  if (!ResolveDestDir(DestDir)) return 0;

  // "*" (whatever follows it) names the kit's own folder; anything else is a folder below it.
  SourceDir = TheApp().AppDir;
  if (Param[0] != '*') {
    SourceDir += Param;
    if (!EndsWithBackslash(Param)) SourceDir += '\\';
  }

  // A leading "/" asks for an update only: the file is copied only over one already there.
  const bool update_only = FileName[0] == '/';
  if (update_only) ++FileName;

  CFileStatus status;
  if (!CFile::GetStatus(SourceDir + FileName, status)) return 0;
  if (update_only && !CFile::GetStatus(DestDir + FileName, status)) return 0;
  return 1;
}

int CopyCommand::Run(int pass) {
  if (!UpdateCommand::Run(pass)) return 0;
  const CString target = DestDir + FileName;
  if (!CopyFileA(SourceDir + FileName, target, FALSE)) return 0;

  CFileStatus status;
  if (!CFile::GetStatus(target, status)) return 0;
  status.m_attribute &= static_cast<BYTE>(~CFile::readOnly);
  TRY {
    CFile::SetStatus(target, status);
  }
  CATCH(CFileException, e) {
    // The file is in place; a copy that stays read-only is still a copy made.
    e->Delete();
  }
  END_CATCH
  return 1;
}
