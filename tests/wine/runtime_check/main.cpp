// The programs' runtime on a real Windows (Wine): static objects made before WinMain and
// destroyed after it, the command line WinMain gets, the C text streams, and the framework's
// TRY/CATCH without C++ exceptions.  Run without the variable KIT_EXPECTED_ARGUMENTS, the program
// starts itself again with a command line of its own making and ends with the exit code of that
// run.  The exit code tells the first check that failed; 0 comes only from the last static
// destructor, once all checks have passed.
#include <afx/file.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "order.h"

char g_constructed[8];
char g_destroyed[8];
int g_result = 50;

Recorded::Recorded(char n) : name(n) { g_constructed[lstrlenA(g_constructed)] = n; }
Recorded::~Recorded() { g_destroyed[lstrlenA(g_destroyed)] = name; }

namespace {

int Equal(const char* a, const char* b) { return lstrcmpA(a, b) == 0; }

BOOL WriteBytes(const char* path, const char* bytes, DWORD size) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes, size, &written, nullptr) && written == size;
  return CloseHandle(h) && ok;
}

DWORD ReadBytes(const char* path, char* out, DWORD size) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  DWORD got = 0;
  if (!ReadFile(h, out, size, &got, nullptr)) got = 0;
  CloseHandle(h);
  return got;
}

// 0, or the number of the stream check that failed.
int CheckStreams(const char* folder) {
  char path[MAX_PATH];
  lstrcpyA(path, folder);
  lstrcatA(path, "\\STREAM.TXT");

  // Text mode writes each LF as CR LF; fclose writes what is buffered.
  FILE* out = fopen(path, "wt");
  if (!out) return 1;
  if (fputs("DEVICE=A\n", out) == EOF || fputs("REM B\r\n", out) == EOF) return 2;
  if (fclose(out) != 0) return 3;
  char bytes[64];
  DWORD n = ReadBytes(path, bytes, sizeof bytes);
  if (n != 18 || !Equal((bytes[n] = '\0', bytes), "DEVICE=A\r\nREM B\r\r\n")) return 4;

  // Text mode reads CR LF as LF, keeps a lone CR and ends at Ctrl-Z.
  if (!WriteBytes(path, "A\r\nB\rC\r\nD\x1A" "E\r\n", 14)) return 5;
  FILE* in = fopen(path, "r");
  if (!in) return 6;
  char line[16];
  if (!fgets(line, sizeof line, in) || !Equal(line, "A\n")) return 7;
  if (!fgets(line, sizeof line, in) || !Equal(line, "B\rC\n")) return 8;
  if (!fgets(line, sizeof line, in) || !Equal(line, "D")) return 9;
  if (fgets(line, sizeof line, in)) return 10;
  if (fclose(in) != 0) return 11;

  // Binary mode passes every byte.
  in = fopen(path, "rb");
  if (!in || !fgets(line, sizeof line, in) || !Equal(line, "A\r\n")) return 12;
  fclose(in);

  if (_access(path, 0) != 0 || _access(folder, 0) != 0) return 13;
  DeleteFileA(path);
  if (_access(path, 0) != -1 || fopen(path, "r") != nullptr) return 14;
  if (fopen(path, "a") != nullptr) return 15;  // a mode the programs never use is refused
  return 0;
}

// 0, or the number of the TRY/CATCH check that failed.
int CheckTryCatch(const char* folder) {
  char missing[MAX_PATH];
  lstrcpyA(missing, folder);
  lstrcatA(missing, "\\MISSING.TXT");

  int reached = 0;
  int cause = -1;
  TRY {
    CFile::Remove(missing);
    reached = 1;
  }
  CATCH(CFileException, e) {
    cause = e->m_cause;
    e->Delete();
  }
  END_CATCH
  if (reached || cause != CFileException::fileNotFound) return 1;

  // The innermost TRY catches; the outer one then still catches what comes after it.
  int inner = 0, outer = 0;
  TRY {
    TRY { CFile::Remove(missing); }
    CATCH(CFileException, e) {
      ++inner;
      e->Delete();
    }
    END_CATCH
    CFile::Remove(missing);
  }
  CATCH(CFileException, e) {
    ++outer;
    e->Delete();
  }
  END_CATCH
  if (inner != 1 || outer != 1) return 2;

  // A TRY that ends without a throw leaves the chain as it was.
  TRY { reached = 2; }
  CATCH(CFileException, e) { e->Delete(); }
  END_CATCH
  TRY { CFile::Remove(missing); }
  CATCH(CFileException, e) {
    reached = 3;
    e->Delete();
  }
  END_CATCH
  return reached == 3 ? 0 : 3;
}

// The second run: started by the first with a command line of `program` and `arguments`.
int RunAgain(const char* arguments, WORD show) {
  char program[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, program, sizeof program);
  if (n == 0 || n >= sizeof program) return 15;
  char command_line[MAX_PATH + 64] = "\"";
  lstrcatA(command_line, program);
  lstrcatA(command_line, "\" \t ");
  lstrcatA(command_line, arguments);
  if (!SetEnvironmentVariableA("KIT_EXPECTED_ARGUMENTS", arguments)) return 16;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 17;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 18;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

int Check(HINSTANCE instance, LPSTR arguments, int show) {
  // P first (its priority), then the objects of one file in their order.
  if (lstrlenA(g_constructed) != 4 || g_constructed[0] != 'P') return 10;
  const char* one = g_constructed;
  while (*one && *one != '1') ++one;
  if (one[0] != '1' || one[1] != '2') return 11;
  if (instance != GetModuleHandleA(nullptr)) return 13;

  char expected[256];
  if (!GetEnvironmentVariableA("KIT_EXPECTED_ARGUMENTS", expected, sizeof expected))
    return RunAgain("/a  \"b c\"\t", SW_SHOWMINNOACTIVE);
  if (!Equal(arguments, expected)) return 12;
  if (show != SW_SHOWMINNOACTIVE) return 19;

  char folder[MAX_PATH];
  if (!GetEnvironmentVariableA("KIT_WORK_FOLDER", folder, sizeof folder)) return 14;
  if (int failed = CheckStreams(folder)) return 100 + failed;
  if (int failed = CheckTryCatch(folder)) return 120 + failed;
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int show) {
  g_result = Check(instance, arguments, show);
  return 30;  // replaced by the last static destructor, which checks its own order first
}
