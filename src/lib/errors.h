// Filling the caller's kr_error, and the texts of the library.
#pragma once

#include "kestrun/kestrun.h"

#include "../package/walk.h"
#include "system_text.h"

#include <cstdio>

// The C library's printf, as the compiler checks formats: on mingw-w64 the
// C++ library takes the GNU one, which knows %zu and %llu.
#ifdef __MINGW32__
#define RBD_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define RBD_PRINTF_FORMAT printf
#endif

// Fills `*err` (when not null) with `code`, `os_error`, `record` and the
// formatted message, cut to fit; returns `code`.
int RBD_SetError(kr_error *err, int code, int os_error, uint32_t record, const char *format, ...)
    __attribute__((format(RBD_PRINTF_FORMAT, 5, 6)));

// Clears `*err` (when not null) to KR_OK; returns KR_OK.
int RBD_ClearError(kr_error *err);

// The error of a walk that stopped: KR_E_NOT_RBD for the header, KR_E_DAMAGED
// for the index (with its record), KR_E_IO where a read failed, KR_E_NOMEM.
int RBD_WalkErrorToCode(const RBDWalkError &error, kr_error *err);
