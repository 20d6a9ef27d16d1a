#include "tree_walk.h"

#include <algorithm>
#include <cstring>

namespace {

// A directory's paths all begin with its name and a slash, so names sort
// as their paths do when a directory's name counts as followed by "/".
bool ComesBefore(const RBDTreeName &a, const RBDTreeName &b) {
    size_t common = std::min(a.name.size(), b.name.size());
    int order = std::memcmp(a.name.data(), b.name.data(), common);
    if (order != 0) {
        return order < 0;
    }
    auto after = [common](const RBDTreeName &n) {
        if (common < n.name.size()) {
            return static_cast<int>(static_cast<unsigned char>(n.name[common]));
        }
        return n.kind == HK_KIND_DIRECTORY ? static_cast<int>('/') : -1;
    };
    return after(a) < after(b);
}

bool List(RBDTreeLevel &level) {
    hkListing *listing = hkListDirectory(level.dir);
    if (listing == nullptr) {
        return false;
    }
    const char *name = nullptr;
    int kind = 0;
    int got = 0;
    while ((got = hkNextName(listing, &name, &kind)) == 1) {
        level.names.push_back({name, kind});
    }
    hkCloseListing(listing);
    std::sort(level.names.begin(), level.names.end(), ComesBefore);
    level.listed = true;
    return got == 0;
}

void CloseLast(RBDTreeWalk &walk) {
    hkCloseDirectory(walk.levels.back().dir);
    walk.levels.pop_back();
}

} // namespace

void RBD_StartTreeWalk(RBDTreeWalk &walk, hkDirectory *top) {
    walk.levels.clear();
    walk.levels.push_back({top, "", false, {}, 0});
}

RBDTreeStep RBD_NextInTree(RBDTreeWalk &walk, RBDTreeItem &item) {
    while (!walk.levels.empty()) {
        RBDTreeLevel &level = walk.levels.back();
        if (!level.listed && !List(level)) {
            item.path = level.prefix.substr(0, level.prefix.empty() ? 0 : level.prefix.size() - 1);
            return RBD_TREE_FAILED;
        }
        if (level.next == level.names.size()) {
            CloseLast(walk);
            continue;
        }
        const RBDTreeName &next = level.names[level.next++];
        item = {level.prefix + next.name, level.dir, next.name.c_str(), next.kind};
        if (next.kind != HK_KIND_DIRECTORY) {
            return RBD_TREE_ITEM;
        }
        int why = 0;
        hkDirectory *below = hkFindBelow(level.dir, next.name.c_str(), &why);
        if (below != nullptr) {
            walk.levels.push_back({below, item.path + "/", false, {}, 0});
            continue;
        }
        if (why == HK_BELOW_FAILED) {
            return RBD_TREE_FAILED;
        }
        // It was made a link or a file since it was listed: handed up as
        // such, still unfollowed.
        item.kind = why == HK_BELOW_LINK ? HK_KIND_LINK : HK_KIND_OTHER;
        return RBD_TREE_ITEM;
    }
    return RBD_TREE_DONE;
}

void RBD_EndTreeWalk(RBDTreeWalk &walk) {
    while (!walk.levels.empty()) {
        CloseLast(walk);
    }
}
