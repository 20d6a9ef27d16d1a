#include "diff_side.h"

#include "../../extract/entry_data.h"
#include "../../hostkit/hostkit.h"
#include "../../package/root_name.h"
#include "../entries/members.h"
#include "../loader.h"
#include "../output/messages.h"
#include "../output/shown_text.h"
#include "../run.h"

#include <cstring>
#include <new>
#include <string>

namespace {

// Members match a path as its group path and its name, which a path left
// by extraction, or found in a tree, tells apart at its last slash.
bool IsChosenPath(RBDMembers &members, const char *path) {
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        return RBD_IsChosen(members, "", path);
    }
    std::string group(path, static_cast<size_t>(slash - path) + 1);
    return RBD_IsChosen(members, group.c_str(), slash + 1);
}

// A name in the tree as messages show it, below the directory as named.
std::string InTree(const RBDDiffSide &side) {
    std::string shown = side.named;
    while (shown.size() > 1 && (shown.back() == '/' || shown.back() == '\\')) {
        shown.pop_back();
    }
    if (shown.back() != '/' && shown.back() != '\\') {
        shown += '/';
    }
    return shown + side.tree_item.path;
}

[[noreturn]] void FailMemory(RBDRun &run) {
    RBD_Fatal(run.out, "ERROR: Failed to allocate memory for the paths to compare, aborting!\n");
}

void OpenPackage(RBDRun &run, RBDDiffSide &side) {
    RBD_PreparePackage(run, side.named, false);
    // What `kestrun PACKAGE` would leave in ./NAME/; with no such name, what
    // extraction into a directory of one's own (-d) leaves.
    char root_name[RBD_MAX_PACKAGE_NAME + 1];
    if (!RBD_RootNameOf(hkGetFileName(side.named), root_name)) {
        root_name[0] = '\0';
    }
    side.package_fd = RBD_OpenPackageOrFail(run, side.named);
    RBDWalkError error{};
    try {
        RBD_CollectEntriesLeft(side.package_fd, root_name, side.text, side.left, error);
    } catch (const std::bad_alloc &) {
        FailMemory(run);
    }
    if (error.problem != RBD_PROBLEM_NONE || !hkFileSize(side.package_fd, &side.package_size)) {
        RBD_FailWalk(run, error, side.named);
    }
}

void WarnNotFollowed(RBDRun &run, const RBDDiffSide &side, int kind) {
    std::string named = InTree(side);
    const char *shown = ShownInMessage(named.c_str());
    if (kind == HK_KIND_LINK) {
        RBD_Warning(run.out,
                    "WARNING: Not following symbolic link \"%s\": it counts as a difference!\n",
                    shown);
    } else {
        RBD_Warning(run.out,
                    "WARNING: Not reading \"%s\", which is no regular file: it counts as a "
                    "difference!\n",
                    shown);
    }
}

void NextInTree(RBDRun &run, RBDDiffSide &side) {
    for (;;) {
        RBDTreeStep step = RBD_TREE_DONE;
        try {
            step = RBD_NextInTree(side.tree, side.tree_item);
        } catch (const std::bad_alloc &) {
            FailMemory(run);
        }
        if (step == RBD_TREE_DONE) {
            side.path = nullptr;
            return;
        }
        if (step == RBD_TREE_FAILED) {
            std::string reason = hkGetError();
            RBD_Fatal(run.out, "ERROR: Failed to read directory \"%s\": %s, aborting!\n",
                      ShownInMessage(InTree(side).c_str()), reason.c_str());
        }
        if (IsChosenPath(run.members, side.tree_item.path.c_str())) {
            side.path = side.tree_item.path.c_str();
            if (side.tree_item.kind != HK_KIND_FILE) {
                WarnNotFollowed(run, side, side.tree_item.kind);
            }
            return;
        }
    }
}

} // namespace

void RBD_OpenSide(RBDRun &run, RBDDiffSide &side, const char *named, bool may_be_tree) {
    side.named = named;
    side.package_fd = -1;
    hkDirectory *dir = may_be_tree ? hkOpenDirectory(named) : nullptr;
    side.is_tree = dir != nullptr;
    if (side.is_tree) {
        RBD_StartTreeWalk(side.tree, dir);
    } else {
        OpenPackage(run, side);
    }
    RBD_NextOnSide(run, side);
}

void RBD_NextOnSide(RBDRun &run, RBDDiffSide &side) {
    if (side.is_tree) {
        NextInTree(run, side);
        return;
    }
    side.path = nullptr;
    while (side.path == nullptr && side.next < side.left.size()) {
        const char *path = side.left[side.next++].path;
        if (IsChosenPath(run.members, path)) {
            side.path = path;
        }
    }
}

bool RBD_OpenItemBytes(RBDRun &run, const RBDDiffSide &side, RBDDiffBytes &bytes) {
    if (!side.is_tree) {
        const RBDEntryLeft &entry = side.left[side.next - 1];
        bool held = RBD_DataInPackage(entry.offset, entry.size, side.package_size);
        bytes = {side.package_fd, entry.offset, held ? entry.size : 0, false};
        return true;
    }
    const RBDTreeItem &item = side.tree_item;
    if (item.kind != HK_KIND_FILE) {
        return false; // warned when it was met
    }
    int fd = -1;
    int opened = hkOpenFileBelow(item.dir, item.name, &fd);
    if (opened == HK_OPEN_FAILED) {
        std::string reason = hkGetError();
        RBD_Fatal(run.out, "ERROR: Failed to open \"%s\": %s, aborting!\n",
                  ShownInMessage(InTree(side).c_str()), reason.c_str());
    }
    if (opened != HK_OPEN_DONE) {
        // Made a link or something else since it was listed.
        WarnNotFollowed(run, side, opened == HK_OPEN_LINK ? HK_KIND_LINK : HK_KIND_OTHER);
        return false;
    }
    bytes = {fd, 0, 0, true};
    if (!hkFileSize(fd, &bytes.size)) {
        RBD_FailItemRead(run, side, hkGetError());
    }
    return true;
}

void RBD_CloseItemBytes(RBDDiffBytes &bytes) {
    if (bytes.owned) {
        hkCloseFile(bytes.fd);
        bytes.owned = false;
    }
}

void RBD_FailItemRead(RBDRun &run, const RBDDiffSide &side, const char *reason) {
    std::string why = reason;
    if (side.is_tree) {
        RBD_Fatal(run.out, "ERROR: Failed to read \"%s\": %s, aborting!\n",
                  ShownInMessage(InTree(side).c_str()), why.c_str());
    }
    RBD_Fatal(run.out, "ERROR: Failed to read \"%s\" in \"%s\": %s, aborting!\n",
              ShownInMessage(side.path), ShownInMessage(side.named), why.c_str());
}

void RBD_CloseSide(RBDDiffSide &side) {
    if (side.is_tree) {
        RBD_EndTreeWalk(side.tree);
    } else if (side.package_fd >= 0) {
        hkCloseFile(side.package_fd);
        side.package_fd = -1;
    }
}
