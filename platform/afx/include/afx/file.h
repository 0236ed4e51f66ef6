// CFile and CStdioFile, CFile's static file-status operations and the framework's exceptions for
// file failures.
#pragma once

#include <windows.h>

#include <cstdint>

#include "afx/string.h"

class CTime {
 public:
  CTime() = default;
  explicit CTime(std::int64_t seconds_since_1970) : t_(seconds_since_1970) {}
  std::int64_t GetTime() const { return t_; }
  bool operator==(const CTime&) const = default;

 private:
  std::int64_t t_ = 0;
};

struct CFileStatus {
  CTime m_ctime;
  CTime m_mtime;
  CTime m_atime;
  LONG m_size = 0;
  BYTE m_attribute = 0;
  BYTE m_padding = 0;
  char m_szFullName[MAX_PATH] = {};
};

class CException {
 public:
  virtual ~CException() = default;
  // Exceptions are thrown as pointers and deleted by whoever catches them.
  void Delete() { delete this; }
};

class CFileException : public CException {
 public:
  enum { none = 0, genericException, fileNotFound, badPath, tooManyOpenFiles, accessDenied,
         invalidFile, removeCurrentDir, directoryFull, badSeek, hardIO, sharingViolation,
         lockViolation, diskFull, endOfFile };
  CFileException(int cause, LONG os_error, LPCSTR file_name) : m_cause(cause), m_lOsError(os_error),
                                                                m_strFileName(file_name) {}
  int m_cause;
  LONG m_lOsError;
  CString m_strFileName;
};

// Throws a CFileException for a Windows error code.
[[noreturn]] void AfxThrowFileException(DWORD os_error, LPCSTR file_name);

// Catching the framework's exceptions:
//
//   TRY { ... } CATCH(CFileException, e) { ...; e->Delete(); } END_CATCH
//
// Built with C++ exceptions this is try and catch (CFileException* e).  The shipping programs
// are built without them: then TRY marks a frame (a jump buffer) on a chain of frames, and a
// throw jumps to the innermost one.  Such a jump skips the destructors of the objects between
// the throw and the CATCH, so code inside TRY keeps objects that own memory outside the TRY.
// A throw with no TRY around it ends the program, as an uncaught exception does.  The framework
// throws CFileException only, so that CATCH takes whatever reaches its frame.
#if defined(__cpp_exceptions)
#define TRY try
#define CATCH(class_name, e) catch (class_name * e)
#define END_CATCH
#else
// Hands the exception to the innermost TRY frame.
[[noreturn]] void AfxThrow(CException* exception);

class AfxTryFrame {
 public:
  AfxTryFrame();
  ~AfxTryFrame() { Leave(); }
  AfxTryFrame(const AfxTryFrame&) = delete;
  AfxTryFrame& operator=(const AfxTryFrame&) = delete;
  // Takes the frame off the chain (when the TRY block ends without a throw).
  void Leave();
  CException* Caught() const { return caught_; }

  void* jump[5];  // for __builtin_setjmp

 private:
  friend void AfxThrow(CException* exception);
  AfxTryFrame* outer_;
  CException* caught_ = nullptr;
  bool linked_ = true;
};

#define TRY                                             \
  {                                                     \
    AfxTryFrame afx_try_frame;                          \
    if (__builtin_setjmp(afx_try_frame.jump) == 0)
#define CATCH(class_name, e) \
    else {                   \
      class_name* e = static_cast<class_name*>(afx_try_frame.Caught());
#define END_CATCH \
    }             \
  }
#endif

// A file opened through CreateFileA.  Failures of reads, writes and seeks are thrown as
// CFileException*; the destructor closes the file and ignores a failure.
class CFile {
 public:
  enum Attribute { normal = 0x00, readOnly = 0x01, hidden = 0x02, system = 0x04, volume = 0x08,
                   directory = 0x10, archive = 0x20 };
  enum OpenFlags { modeRead = 0x0000, modeWrite = 0x0001, modeReadWrite = 0x0002, shareCompat = 0x0000,
                   shareExclusive = 0x0010, shareDenyWrite = 0x0020, shareDenyRead = 0x0030,
                   shareDenyNone = 0x0040, modeNoInherit = 0x0080, modeCreate = 0x1000,
                   modeNoTruncate = 0x2000, typeText = 0x4000, typeBinary = 0x8000 };
  enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };

  CFile() = default;
  virtual ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Opens the file: modeCreate creates it (emptying an existing one unless modeNoTruncate).
  // FALSE when it cannot be opened; the cause goes into *error when one is given.
  virtual BOOL Open(LPCSTR file_name, UINT open_flags, CFileException* error = nullptr);
  // Moves the file position; the new position from the start.
  virtual LONG Seek(LONG offset, UINT from);
  virtual void Write(const void* buffer, UINT count);
  virtual void Close();

  HANDLE m_hFile = INVALID_HANDLE_VALUE;
  CString m_strFileName;

  // TRUE when the path exists; fills the status (attribute byte, size, times, full path).
  static BOOL GetStatus(LPCSTR file_name, CFileStatus& status);
  // Applies the status's attribute byte to the file; throws CFileException on failure.
  static void SetStatus(LPCSTR file_name, const CFileStatus& status);
  // Deletes the file; throws CFileException on failure.
  static void Remove(LPCSTR file_name);
};

// A file of text lines.  Unless opened with typeBinary, the file is in text mode: each line feed
// written becomes CR LF.
class CStdioFile : public CFile {
 public:
  BOOL Open(LPCSTR file_name, UINT open_flags, CFileException* error = nullptr) override;
  // Writes the text (up to its NUL) with the text-mode translation.
  void WriteString(LPCSTR text);

 private:
  bool text_mode_ = true;
};
