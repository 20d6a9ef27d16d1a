#include "entry_listing.h"

#include "../output/json_text.h"
#include "../output/shown_text.h"
#include "../output/streams.h"
#include "../package/loader.h"
#include "entry_action.h"

#include <cinttypes>
#include <string>

void RBD_ListEntry(const char *path, const char *filename, uint32_t size) {
    std::fprintf(RBD_Product(), "%10u  %s%s\n", size, ShownInProduct(path),
                 ShownInProduct(filename));
}

void RBD_ListEntryAsJson(const char *path, const char *filename, uint32_t offset, uint32_t size) {
    std::string entry_path = std::string(path) + filename;
    std::fprintf(RBD_Product(),
                 "{\"path\":%s,\"group\":%s,\"name\":%s,\"size\":%u,\"offset\":%u}\n",
                 JsonString(entry_path.c_str()).c_str(), JsonString(path).c_str(),
                 JsonString(filename).c_str(), size, offset);
}

void RBD_PrintJsonSummary() {
    double expansion = static_cast<double>(totals.bytes) / static_cast<double>(package_size);
    std::fprintf(RBD_Product(),
                 "{\"entries\":%" PRIu64 ",\"groups\":%" PRIu64 ",\"total_bytes\":%" PRIu64
                 ",\"package_size\":%" PRIu64 ",\"expansion\":%.4f}\n",
                 totals.entries, totals.groups, totals.bytes, package_size, expansion);
}
