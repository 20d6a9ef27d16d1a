#include "entry_check.h"

#include "../../extract/engine.h"
#include "../../extract/entry_data.h"
#include "../../hostkit/hostkit.h"
#include "../loader.h"
#include "../output/messages.h"
#include "../output/shown_text.h"
#include "../package_name.h"
#include "../run_mode.h"
#include "entry_action.h"
#include "entry_hash.h"
#include "writer.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace {

// The directory of the last group path looked at below ./<package_name>/,
// found without following links and without making anything; null when it
// is not there. Entries come group by group, so each group is looked up once.
struct RBDLookedAt {
    bool valid;
    std::string group_path;
    hkDirectory *dir;
    bool package_known;
    hkFileId package;
};

RBDLookedAt looked_at;

hkDirectory *GroupDirectory(const char *path) {
    if (looked_at.valid && looked_at.group_path == path) {
        return looked_at.dir;
    }
    hkCloseDirectory(looked_at.dir);
    std::string relative = std::string(package_name) + "/" + path;
    int why = 0;
    looked_at.dir = hkFindBelow(nullptr, relative.c_str(), &why);
    looked_at.group_path = path;
    looked_at.valid = true;
    return looked_at.dir;
}

// True when the package itself already has the entry's name, so that an
// extraction would refuse the entry.
bool LandsOnPackage(const char *path, const char *filename) {
    if (!looked_at.package_known) {
        looked_at.package_known = hkDescriptorIdentity(package_fd, &looked_at.package);
        if (!looked_at.package_known) {
            return false;
        }
    }
    hkDirectory *dir = GroupDirectory(path);
    hkFileId id{};
    return dir != nullptr && hkIdentityBelow(dir, filename, &id) &&
           id.volume == looked_at.package.volume && id.file == looked_at.package.file;
}

} // namespace

void RBD_CheckEntry(const char *raw_group, const char *group, const char *filename, uint32_t offset,
                    uint32_t size, bool safe_group) {
    std::string entry = std::string(group) + filename;
    const char *shown = ShownInMessage(entry.c_str());
    RBDEntryOutcome verdict = RBD_EntryVerdict(package_name, raw_group, filename, safe_group);
    if (verdict == RBD_ENTRY_UNSAFE) {
        RBD_Warning("WARNING: Refusing unsafe path, \"%s\"!\n", shown);
        return;
    }
    if (verdict == RBD_ENTRY_TOO_LONG) {
        RBD_Warning("WARNING: Path too long, \"%s\"!\n", shown);
        return;
    }
    if (LandsOnPackage(group, filename)) {
        RBD_Warning("WARNING: Refusing to overwrite the package, \"%s\"!\n", shown);
        return;
    }
    if (!RBD_DataInPackage(offset, size, package_size)) {
        RBD_Warning("WARNING: Failed to read in data, \"%s\"!\n", shown);
        return;
    }
    // An extraction would stop here, so the test does too, with its status.
    RBD_ChargeOrStop(size);
    if (run_mode.sha256 && !RBD_HashEntry(offset, size, nullptr)) {
        RBD_Warning("WARNING: Failed to read in data, \"%s\"!\n", shown);
    }
}

void RBD_EndChecks() {
    hkCloseDirectory(looked_at.dir);
    looked_at.dir = nullptr;
    looked_at.valid = false;
}

void RBD_PrintTestSummary() {
    double expansion = static_cast<double>(totals.bytes) / static_cast<double>(package_size);
    std::printf("Tested: entries %" PRIu64 ", groups %" PRIu64 ", bytes %" PRIu64
                ", package bytes %" PRIu64 ", expansion %.2f\n",
                totals.entries, totals.groups, totals.bytes, package_size, expansion);
}
