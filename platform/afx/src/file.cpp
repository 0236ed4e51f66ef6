#include "afx/file.h"

#include <cstdlib>
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
#if defined(__cpp_exceptions)
  throw new CFileException(CauseOf(os_error), static_cast<LONG>(os_error), file_name);
#else
  AfxThrow(new CFileException(CauseOf(os_error), static_cast<LONG>(os_error), file_name));
#endif
}

#if !defined(__cpp_exceptions)

namespace {

AfxTryFrame* g_innermost_frame = nullptr;

}  // namespace

AfxTryFrame::AfxTryFrame() : outer_(g_innermost_frame) { g_innermost_frame = this; }

void AfxTryFrame::Leave() {
  if (!linked_) return;
  linked_ = false;
  g_innermost_frame = outer_;
}

__attribute__((noinline)) void AfxThrow(CException* exception) {
  AfxTryFrame* frame = g_innermost_frame;
  if (!frame) abort();
  frame->Leave();
  frame->caught_ = exception;
  __builtin_longjmp(frame->jump, 1);
}

#endif

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

CFile::~CFile() {
  if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
}

BOOL CFile::Open(LPCSTR file_name, UINT flags, CFileException* error) {
  if (m_hFile != INVALID_HANDLE_VALUE) {
    CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
  }
  DWORD access = GENERIC_READ;
  if ((flags & 3) == modeWrite) access = GENERIC_WRITE;
  else if ((flags & 3) == modeReadWrite) access = GENERIC_READ | GENERIC_WRITE;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  switch (flags & 0x70) {
    case shareExclusive: share = 0; break;
    case shareDenyWrite: share = FILE_SHARE_READ; break;
    case shareDenyRead: share = FILE_SHARE_WRITE; break;
    default: break;
  }
  DWORD disposition = OPEN_EXISTING;
  if (flags & modeCreate) disposition = (flags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
  HANDLE h = file_name ? CreateFileA(file_name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr)
                       : INVALID_HANDLE_VALUE;
  if (h == INVALID_HANDLE_VALUE) {
    if (error) {
      const DWORD os_error = file_name ? GetLastError() : ERROR_PATH_NOT_FOUND;
      error->m_cause = CauseOf(os_error);
      error->m_lOsError = static_cast<LONG>(os_error);
      error->m_strFileName = file_name ? file_name : "";
    }
    return FALSE;
  }
  m_hFile = h;
  m_strFileName = file_name;
  return TRUE;
}

LONG CFile::Seek(LONG offset, UINT from) {
  SetLastError(0);
  const DWORD pos = SetFilePointer(m_hFile, offset, nullptr, from);
  if (pos == INVALID_SET_FILE_POINTER && GetLastError() != 0) AfxThrowFileException(GetLastError(), m_strFileName);
  return static_cast<LONG>(pos);
}

void CFile::Write(const void* buffer, UINT count) {
  if (count == 0) return;
  DWORD written = 0;
  if (!WriteFile(m_hFile, buffer, count, &written, nullptr)) AfxThrowFileException(GetLastError(), m_strFileName);
  if (written != count) AfxThrowFileException(ERROR_WRITE_FAULT, m_strFileName);
}

void CFile::Close() {
  HANDLE h = m_hFile;
  m_hFile = INVALID_HANDLE_VALUE;
  if (h != INVALID_HANDLE_VALUE && !CloseHandle(h)) AfxThrowFileException(GetLastError(), m_strFileName);
}

BOOL CStdioFile::Open(LPCSTR file_name, UINT flags, CFileException* error) {
  text_mode_ = (flags & typeBinary) == 0;
  return CFile::Open(file_name, flags & ~static_cast<UINT>(typeText | typeBinary), error);
}

void CStdioFile::WriteString(LPCSTR text) {
  if (!text) AfxThrowFileException(ERROR_INVALID_PARAMETER, m_strFileName);
  if (!text_mode_) {
    Write(text, static_cast<UINT>(std::strlen(text)));
    return;
  }
  CString translated;
  for (LPCSTR p = text; *p; ++p) {
    if (*p == '\n') translated += '\r';
    translated += *p;
  }
  Write(static_cast<LPCSTR>(translated), static_cast<UINT>(translated.GetLength()));
}
