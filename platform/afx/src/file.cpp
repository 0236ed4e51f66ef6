#include "afx/file.h"

#include <cstring>

namespace {

CTime TimeOf(const FILETIME& t) {
  const std::uint64_t v = (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return CTime(static_cast<std::int64_t>(v / 10000000ULL) - 11644473600LL);
}

int CauseOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return CFileException::fileNotFound;
    case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME: case ERROR_FILENAME_EXCED_RANGE: return CFileException::badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return CFileException::tooManyOpenFiles;
    case ERROR_ACCESS_DENIED: return CFileException::accessDenied;
    case ERROR_INVALID_HANDLE: return CFileException::invalidFile;
    case ERROR_SHARING_VIOLATION: return CFileException::sharingViolation;
    case ERROR_WRITE_FAULT: return CFileException::hardIO;
    default: return CFileException::genericException;
  }
}

bool HasWildcard(LPCSTR s) {
  for (LPCSTR p = s; *p; p = CharNextA(p))
    if (*p == '*' || *p == '?') return true;
  return false;
}

}  // namespace

void AfxThrowFileException(DWORD os_error, LPCSTR file_name) {
  throw new CFileException(CauseOf(os_error), static_cast<LONG>(os_error), file_name);
}

BOOL CFile::GetStatus(LPCSTR file_name, CFileStatus& status) {
  if (!file_name || HasWildcard(file_name)) return FALSE;
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(file_name, MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH) {
    status.m_szFullName[0] = '\0';
    return FALSE;
  }
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(file_name, &data);
  if (find == INVALID_HANDLE_VALUE) return FALSE;
  FindClose(find);
  std::memcpy(status.m_szFullName, full, n + 1);
  status.m_attribute = static_cast<BYTE>(data.dwFileAttributes);
  status.m_size = static_cast<LONG>(data.nFileSizeLow);
  status.m_ctime = TimeOf(data.ftCreationTime);
  status.m_atime = TimeOf(data.ftLastAccessTime);
  status.m_mtime = TimeOf(data.ftLastWriteTime);
  return TRUE;
}

void CFile::SetStatus(LPCSTR file_name, const CFileStatus& status) {
  if (!SetFileAttributesA(file_name, status.m_attribute)) AfxThrowFileException(GetLastError(), file_name);
}

void CFile::Remove(LPCSTR file_name) {
  if (!DeleteFileA(file_name)) AfxThrowFileException(GetLastError(), file_name);
}
