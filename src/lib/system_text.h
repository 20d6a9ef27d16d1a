// The system's words for an error code, for the command line's messages and
// the library's kr_error alike.
#pragma once

#include <cstddef>

// The system's text for `os_error` (errno; on Windows, a system error code),
// in `buffer` of `size` bytes or in storage of the C library's; thread-safe.
const char *RBD_SystemText(int os_error, char *buffer, size_t size);
