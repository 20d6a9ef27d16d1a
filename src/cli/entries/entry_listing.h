// --list and --json: what each entry is, written to standard output.
#pragma once

#include "../run_state.h"

#include <cstdint>

// "%10u  %s%s": the size, two spaces and the path under the output root.
// With --sha256, "HASH  PATH" in the format of sha256sum instead, so that
// `sha256sum -c` run in the output root checks an extraction.
void RBD_ListEntry(RBDRun &run, const char *path, const char *filename, uint32_t offset,
                   uint32_t size);

// One JSON object on a line: path, group (the group path, ending in a slash),
// name, size and offset, and with --sha256 the sha256 of the entry. Names
// are mapped as JsonString says.
void RBD_ListEntryAsJson(RBDRun &run, const char *path, const char *filename, uint32_t offset,
                         uint32_t size);

// The last line of --json: entries, groups, total_bytes, package_size and
// expansion (total bytes over the package's size).
void RBD_PrintJsonSummary(const RBDRun &run);
