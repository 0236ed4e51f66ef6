// cfgsysfix: comments out the lines of CONFIG.SYS that load DOS high with upper memory blocks,
// on machines outside the legacy line that carry the PCI device 1013:00D6.
#pragma once

#include <windows.h>

// Results of Rewrite.
#define REWRITE_DONE 1
#define REWRITE_NO_SOURCE 2
#define REWRITE_FAILED 3

// The whole run of the tool; its exit code: 0 when the system board key cannot be opened, 1 in
// every other case.
int FixConfigSys(void);

// Copies the text file lpszSource to lpszDest piece by piece (at most 255 characters each),
// putting "REM " before each piece that IsLineToComment chooses.  REWRITE_NO_SOURCE when the
// source does not exist, REWRITE_FAILED when a file cannot be opened or a write fails.
int Rewrite(LPCSTR lpszSource, LPCSTR lpszDest);

// TRUE when the line piece holds lpszKeyword (compared with the piece's letters in upper case)
// and is not a comment already: after leading blanks and tabs it neither ends nor begins with
// "REM" in any case.
BOOL IsLineToComment(LPCSTR lpszLine, LPCSTR lpszKeyword);
