#include "entry_check.h"

#include "../../extract/engine.h"
#include "../../extract/entry_data.h"
#include "../../extract/outcome_text.h"
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

namespace {

// Warns of what an extraction would make of the entry, in option mode's words.
void WarnOf(RBDEntryOutcome outcome, const char *path, const char *filename) {
    RBDOutcomeSubject entry{package_name, path, filename, 0};
    char text[RBD_OUTCOME_TEXT];
    RBD_WordOutcome(RBD_WORDING_FULL, RBDEntryResult{outcome, false, 0}, entry, text, sizeof text);
    RBD_Warning("WARNING: %s!\n", ShownInMessage(text));
}

void WarnOfMissingData(const char *path, const char *filename) {
    RBDOutcomeSubject entry{package_name, path, filename, 0};
    char text[RBD_OUTCOME_TEXT];
    RBD_WordDataMissing(RBD_WORDING_FULL, entry, text, sizeof text);
    RBD_Warning("WARNING: %s!\n", ShownInMessage(text));
}

} // namespace

void RBD_CheckEntry(const char *raw_group, const char *path, const char *filename, uint32_t offset,
                    uint32_t size, bool safe_group) {
    // The limits of extraction hold for the group path as the package spells
    // it; the warnings name the entry by its path below the output root.
    RBDEntryOutcome verdict = RBD_EntryVerdict(package_name, raw_group, filename, safe_group);
    if (verdict != RBD_ENTRY_WRITTEN) {
        WarnOf(verdict, path, filename);
        return;
    }
    // An extraction makes the group's directory, then finds no file can have
    // the name.
    if (*filename == '\0') {
        WarnOf(RBD_ENTRY_EMPTY_NAME, path, filename);
        return;
    }
    if (LandsOnPackage(path, filename)) {
        WarnOf(RBD_ENTRY_IS_PACKAGE, path, filename);
        return;
    }
    if (!RBD_DataInPackage(offset, size, package_size)) {
        WarnOfMissingData(path, filename);
        return;
    }
    // An extraction would stop here, so the test does too, with its status.
    RBD_ChargeOrStop(size);
    if (run_mode.sha256 && !RBD_HashEntry(offset, size, nullptr)) {
        WarnOfMissingData(path, filename);
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
