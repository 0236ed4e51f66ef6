// Errors, version, folders, time and the process's own facts.
#include <cstdlib>
#include <cstring>

#include "kernel32/api_support.h"

using namespace w9x;

namespace {
// Like Windows, the last error belongs to the thread.
thread_local DWORD t_last_error = 0;
}  // namespace

DWORD WINAPI GetLastError(void) { return t_last_error; }
void WINAPI SetLastError(DWORD code) { t_last_error = code; }

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  const MachineConfig& c = CurrentMachine().Config();
  // Windows 9x knows only the plain record; NT also takes the extended one (156 bytes).
  const bool nt = c.platform == VER_PLATFORM_WIN32_NT;
  if (!info || !(info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOA) || (nt && info->dwOSVersionInfoSize == 156))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = c.major;
  info->dwMinorVersion = c.minor;
  info->dwPlatformId = c.platform;
  // On Windows 9x the high word of the build number repeats the version (4.10 -> 0x040A).
  info->dwBuildNumber = nt ? c.build : ((c.major & 0xFF) << 24) | ((c.minor & 0xFF) << 16) | (c.build & 0xFFFF);
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::strncpy(info->szCSDVersion, c.csd.c_str(), sizeof info->szCSDVersion - 1);
  return TRUE;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  return api::CopyOut(CurrentMachine().WindowsDir().ToString(), buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  return api::CopyOut(CurrentMachine().WindowsDir().Child("SYSTEM").ToString(), buffer, size);
}

UINT WINAPI GetACP(void) { return 932; }

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(CurrentMachine().Time().Elapsed()); }

void WINAPI Sleep(DWORD milliseconds) {
  api::Record("Sleep", {{"ms", milliseconds}, {"virtual", CurrentMachine().Time().IsVirtual()}});
  CurrentMachine().Time().Wait(milliseconds);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module && module != GetModuleHandleA(nullptr)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const std::string& path = CurrentProcess().ModulePath();
  if (!buffer || size == 0) return 0;
  // Cut to the buffer, always NUL-terminated, count without the NUL.
  DWORD n = static_cast<DWORD>(std::min<std::size_t>(path.size(), size - 1));
  std::memcpy(buffer, path.data(), n);
  buffer[n] = '\0';
  return n;
}

LPSTR WINAPI GetCommandLineA(void) { return const_cast<char*>(CurrentProcess().CommandLine().c_str()); }

void WINAPI ExitProcess(UINT code) {
  api::Record("ExitProcess", {{"exit_code", code}});
  std::exit(static_cast<int>(code));
}
