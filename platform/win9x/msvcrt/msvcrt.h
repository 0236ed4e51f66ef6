// The C runtime's file streams as the programs meet them on Windows, over the machine's files.
//
// Paths are Windows paths of the machine.  Streams opened in text mode ("t", the default) read
// CR LF as LF, keep a CR that no LF follows, and end at the first Ctrl-Z; they write each LF as
// CR LF.  "b" reads and writes the bytes as they are.  The FILE is a real C stream, so fgets,
// fputs and fclose work on it as usual; only opening and the existence test need the machine.
#pragma once

#include <stdio.h>

// fopen with the modes "r" and "w", each with "t" or "b"; NULL (errno set) when the file cannot
// be opened that way or for any other mode.
FILE* w9x_fopen(const char* path, const char* mode);

// _access: 0 when the file or folder exists and allows `mode` (0 exists, 2 write, 4 read,
// 6 both), otherwise -1 with errno ENOENT or EACCES.
int w9x_access(const char* path, int mode);
