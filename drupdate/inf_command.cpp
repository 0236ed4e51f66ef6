// Kind 3: hand a file of the kit to Windows.  An INF file is installed by the Windows setup
// components, started as a hidden command line; any other file is started as a program.
#include "afx/file.h"
#include "update_app.h"
#include "update_command.h"

namespace {

// The setup components' command lines; the INF's full path follows directly.
const char kSetupxPrefix[] = "rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 ";
const char kAdvpackPrefix[] = "rundll32.exe advpack.dll,LaunchINFSection ";

// Windows 95 builds before this one know only the setupx installer.
constexpr DWORD kFirstAdvpackBuild = 1111;

// An INF file is one whose extension, the text after the last ".", is "inf" in any case.  A name
// without a "." has no extension and is a program.
bool IsInfFile(const CString& name) {
  const int dot = name.ReverseFind('.');
  return dot >= 0 && name.Mid(dot + 1).CompareNoCase("inf") == 0;
}

// The shutdown program's INF is only installed over the shutdown program and its VxD.
bool ShutdownProgramInPlace() {
  const CString windows = WindowsFolder();
  CFileStatus status;
  return CFile::GetStatus(windows + "TALMORIX.EXE", status) &&
         CFile::GetStatus(windows + "SYSTEM\\TALMORIX.VXD", status);
}

}  // namespace

int InfCommand::Parse(const char* text) {
  if (!UpdateCommand::Parse(text)) return 0;
  // Without a source folder the file cannot be found.
  if (!Param) return 0;

  // "*" is the kit's own folder, "!" an absolute folder, anything else a folder below the kit's.
  SourceDir = TheApp().AppDir;
  if (Param[0] != '*') {
    if (Param[0] == '!') SourceDir = Param + 1;
    else SourceDir += Param;
    if (!EndsWithBackslash(Param)) SourceDir += '\\';
  }

  CFileStatus status;
  return CFile::GetStatus(SourceDir + FileName, status) ? 1 : 0;
}

int InfCommand::Run(int pass) {
  if (!UpdateCommand::Run(pass)) return 0;
  UpdateApp& app = TheApp();

  if (!IsInfFile(FileName)) {
    // A program starts in its own folder; the update program then goes back to its own.
    SetCurrentDirectoryA(SourceDir);
    const UINT started = WinExec(SourceDir + FileName, SW_HIDE);
    SetCurrentDirectoryA(app.AppDir);
    return started > 31 ? 1 : 0;
  }

  if (lstrcmpiA(FileName, "ZELKOVA.INF") == 0 && !ShutdownProgramInPlace()) return 1;

  const char* prefix = kAdvpackPrefix;
  if (app.OsKind == kOsWin9x && app.BuildNumber < kFirstAdvpackBuild) prefix = kSetupxPrefix;
  if (lstrcmpiA(FileName, "VARA2V.INF") == 0) prefix = kSetupxPrefix;

  const CString command_line = prefix + SourceDir + FileName;
  return WinExec(command_line, SW_HIDE) > 31 ? 1 : 0;
}
