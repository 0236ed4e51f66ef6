// <io.h> of the programs' runtime: the one low-level file function they use.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// 0 when the file or folder exists and, for mode 2 (or 6), may be written; -1 otherwise.
int _access(const char* path, int mode);

#ifdef __cplusplus
}
#endif
