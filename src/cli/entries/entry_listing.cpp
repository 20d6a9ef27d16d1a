#include "entry_listing.h"

#include "../output/json_text.h"
#include "../output/messages.h"
#include "../output/shown_text.h"
#include "../output/streams.h"
#include "entry_hash.h"

#include <cinttypes>
#include <string>

namespace {

// The entry's digest in `hex`; false, with the warning, when its bytes could
// not be read.
bool HashOrWarn(RBDRun &run, const std::string &entry_path, uint32_t offset, uint32_t size,
                char *hex) {
    if (RBD_HashEntry(run, offset, size, hex)) {
        return true;
    }
    RBD_Warning(run.out, "WARNING: Failed to read in data, \"%s\"!\n",
                ShownInMessage(entry_path.c_str()));
    return false;
}

// A name as sha256sum writes it: a backslash, a line feed or a carriage
// return in it is escaped ("\\", "\n", "\r") and the line then starts with a
// backslash. On a terminal names are shown escaped for the eye instead.
std::string ChecksumLine(const char *hex, const std::string &entry_path) {
    const char *shown = ShownOnStdout(entry_path.c_str());
    if (shown != entry_path.c_str()) {
        return std::string(hex) + "  " + shown + "\n";
    }
    std::string name;
    bool escaped = false;
    for (char c : entry_path) {
        const char *escape = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        escaped = escaped || escape != nullptr;
        name += escape != nullptr ? escape : std::string(1, c);
    }
    return (escaped ? "\\" : "") + std::string(hex) + "  " + name + "\n";
}

} // namespace

void RBD_ListEntry(RBDRun &run, const char *path, const char *filename, uint32_t offset,
                   uint32_t size) {
    if (!run.mode.sha256) {
        std::fprintf(RBD_Product(), "%10u  %s%s\n", size, ShownOnStdout(path),
                     ShownOnStdout(filename));
        return;
    }
    std::string entry_path = std::string(path) + filename;
    char hex[65];
    if (HashOrWarn(run, entry_path, offset, size, hex)) {
        std::fputs(ChecksumLine(hex, entry_path).c_str(), RBD_Product());
    }
}

void RBD_ListEntryAsJson(RBDRun &run, const char *path, const char *filename, uint32_t offset,
                         uint32_t size) {
    std::string entry_path = std::string(path) + filename;
    std::string sha256;
    if (run.mode.sha256) {
        char hex[65];
        sha256 = HashOrWarn(run, entry_path, offset, size, hex)
                     ? ",\"sha256\":\"" + std::string(hex) + "\""
                     : ",\"sha256\":null";
    }
    std::fprintf(RBD_Product(),
                 "{\"path\":%s,\"group\":%s,\"name\":%s,\"size\":%u,\"offset\":%u%s}\n",
                 JsonString(entry_path.c_str()).c_str(), JsonString(path).c_str(),
                 JsonString(filename).c_str(), size, offset, sha256.c_str());
}

void RBD_PrintJsonSummary(const RBDRun &run) {
    const RBDTotals &totals = run.totals;
    uint64_t package_size = run.package.size;
    double expansion = static_cast<double>(totals.bytes) / static_cast<double>(package_size);
    std::fprintf(RBD_Product(),
                 "{\"entries\":%" PRIu64 ",\"groups\":%" PRIu64 ",\"total_bytes\":%" PRIu64
                 ",\"package_size\":%" PRIu64 ",\"expansion\":%.4f}\n",
                 totals.entries, totals.groups, totals.bytes, package_size, expansion);
}
