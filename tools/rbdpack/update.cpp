// rbdpack --update PACKAGE DIR: each file under DIR replaces the entry that
// kr_find gives for its path (the one extraction leaves) when their bytes
// differ, and is added when there is none; with --delete-missing, the paths
// with no file under DIR go. Sizes are compared first and bytes only where
// they agree, up to the first difference. What the tree holds that no
// package can is refused all at once, as the packing form refuses it.
#include "edits.h"

#include "../../src/cli/entries/members.h"
#include "edit_run.h"
#include "messages.h"
#include "scan_tree.h"
#include "source_file.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Update {
    EditRun run;
    const PackArguments &arguments;
    std::vector<TreeRefusal> refusals;
    std::vector<char> buffers;
};

TreeScan Scan(const std::string &dir, const std::string &package, const PackArguments &arguments) {
    ScanOptions options;
    char root_name[KR_MAX_ROOT_NAME + 1];
    const std::string filename = fs::path(package).filename().string();
    if (kr_root_name(filename.c_str(), root_name) != KR_OK) {
        Fail("ERROR: Invalid package name \"" + filename + "\", aborting!");
    }
    options.root_name = root_name;
    options.excludes = arguments.excludes;
    options.dereference = arguments.dereference;
    options.whole_package = false;
    // Each file is opened, and measured, as it is compared.
    options.measure = false;
    return ScanTree(dir, options);
}

// Removes, in index order, every path of the package that has no file in
// the tree, unless an --exclude matches it or one of its groups.
void RemoveMissing(Update &update, const TreeScan &scan) {
    std::unordered_set<std::string> kept;
    for (const TreeFile &file : scan.files) {
        kept.insert(file.path);
    }
    RBDMembers excluded;
    excluded.excludes = update.arguments.excludes;
    uint32_t count = kr_entry_count(update.run.base);
    for (uint32_t index = 0; index < count; ++index) {
        kr_entry entry{};
        kr_entry_at(update.run.base, index, &entry);
        if (kept.count(entry.path) == 0 && RBD_IsChosen(excluded, "", entry.path)) {
            // Every entry of the path goes at once.
            kept.insert(entry.path);
            RemoveEntries(update.run, entry.path);
        }
    }
}

void Refuse(Update &update, const std::string &text, const TreeFile &file) {
    update.refusals.push_back(TreeRefusal{text, file.path});
}

// False when `file` holds what its entry holds already. After a refusal
// nothing will be written, so entries are no longer read.
bool Differs(Update &update, uint32_t index, const TreeFile &file, const SourceFile &source) {
    if (!update.refusals.empty()) {
        return false;
    }
    kr_error err;
    int error = 0;
    switch (CompareWithEntry(update.run.base, index, source, update.buffers, err, error)) {
    case Sameness::kSame:
        return false;
    case Sameness::kDifferent:
        return true;
    case Sameness::kFileFailed:
        Refuse(update,
               "Failed to read \"" + file.source + "\"" +
                   (error != 0 ? Reason(error) : " whole (did it change meanwhile?)"),
               file);
        return false;
    case Sameness::kPackageFailed:
        break;
    }
    FailEdit(update.run, "ERROR: Failed to read the entry \"" + ShownOn(stderr, file.path) +
                             "\" of \"" + update.run.package + "\": " + err.message +
                             ", aborting!");
}

void UpdateFile(Update &update, const TreeFile &file) {
    SourceFile source;
    int error = 0;
    if (!OpenSource(file.source, update.arguments.dereference, source, error)) {
        return Refuse(update, "Failed to read \"" + file.source + "\"" + Reason(error), file);
    }
    uint32_t index = 0;
    bool replacing = kr_find(update.run.base, file.path.c_str(), &index) == KR_OK;
    if (replacing && !Differs(update, index, file, source)) {
        return CloseSource(source);
    }
    kr_error err;
    int code = PutEntry(update.run, file.path, source.fd, replacing, err);
    CloseSource(source);
    if (code == KR_E_INVALID) {
        Refuse(update, RuleBroken(err, file.path) + ", \"" + file.source + "\"", file);
    } else if (code == KR_E_CHANGED) {
        Refuse(update, "Failed to read \"" + file.source + "\" whole (did it change meanwhile?)",
               file);
    } else if (code != KR_OK) {
        FailEdit(update.run, "ERROR: Failed to write \"" + update.run.package +
                                 "\": " + err.message + ", aborting!");
    }
}

} // namespace

int RunUpdate(const PackArguments &arguments) {
    const std::string package = arguments.operands[0];
    const std::string dir = arguments.operands[1];
    CheckTreeFor(dir, package, "is updated from");
    TreeScan scan = Scan(dir, package, arguments);
    Update update{EditRun{}, arguments, scan.refusals, {}};
    BeginEdit(update.run, package.c_str(), arguments.dry_run);
    for (const std::string &warning : scan.warnings) {
        std::fprintf(stderr, "%s\n", warning.c_str());
    }
    // First, so that a group whose entries all go can give way to a file.
    if (arguments.delete_missing && update.refusals.empty()) {
        RemoveMissing(update, scan);
    }
    for (const TreeFile &file : scan.files) {
        UpdateFile(update, file);
    }
    if (!update.refusals.empty()) {
        PrintRefusals(update.refusals, "To update the package");
        AbandonEdit(update.run);
    }
    return FinishEdit(update.run);
}
