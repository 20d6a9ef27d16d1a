// The hidden temporary file that a package is written to before it is renamed
// into place. Whatever ends the run early, no temporary file is left: a
// failure removes it, and so does SIGINT, SIGTERM or SIGHUP before the signal
// ends the process as it would have without rbdpack's help.
#pragma once

#include <cstdio>
#include <filesystem>
#include <system_error>

// Creates a new file next to `output`, named ".<output's name>.<random>.tmp",
// and opens it for writing; from then on the signals above remove it. Null,
// with errno set, when no such file can be made.
FILE *CreateTemporary(const std::filesystem::path &output, std::filesystem::path &temporary);

// Renames the finished temporary file to `output`, replacing any file there.
// False, with the reason in `ec` and the temporary file still there, when
// that fails.
bool CommitTemporary(const std::filesystem::path &temporary, const std::filesystem::path &output,
                     std::error_code &ec);

// Removes the temporary file.
void DiscardTemporary(const std::filesystem::path &temporary);
