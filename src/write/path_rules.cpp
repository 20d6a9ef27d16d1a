#include "path_rules.h"

#include "../package/safe_name.h"
#include "model_lookup.h"
#include "model_paths.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

RBDPathVerdict Verdict(RBDPathProblem problem, size_t at, size_t length) {
    return RBDPathVerdict{problem, at, length};
}

RBDPathVerdict CheckName(const char *path, size_t at, size_t length) {
    if (length == 0) {
        return Verdict(RBD_PATH_EMPTY_NAME, at, 0);
    }
    if (length > RBD_NAME_MAX) {
        return Verdict(RBD_PATH_LONG_NAME, at, length);
    }
    char name[RBD_NAME_FIELD];
    std::memcpy(name, path + at, length);
    name[length] = '\0';
    if (!IsSafeName(name)) {
        return Verdict(RBD_PATH_UNSAFE_NAME, at, length);
    }
    return Verdict(RBD_PATH_FITS, 0, 0);
}

// True when an entry other than `ignored` has the path `path`.
bool FileAt(const RBDWriteModel &model, const char *path, size_t length, int64_t ignored) {
    std::vector<uint32_t> found;
    RBD_EntriesAt(model, path, length, found);
    return std::any_of(found.begin(), found.end(),
                       [ignored](uint32_t entry) { return entry != ignored; });
}

} // namespace

RBDPathVerdict RBD_CheckNames(const char *path, size_t length) {
    size_t start = 0;
    for (size_t end = 0; end <= length; ++end) {
        if (end < length && path[end] != '/') {
            continue;
        }
        RBDPathVerdict verdict = CheckName(path, start, end - start);
        if (verdict.problem != RBD_PATH_FITS) {
            return verdict;
        }
        start = end + 1;
    }
    if (std::memchr(path, '/', length) == nullptr) {
        return Verdict(RBD_PATH_TOP_LEVEL, 0, length);
    }
    if (length > RBD_ENTRY_PATH_MAX) {
        return Verdict(RBD_PATH_TOO_LONG, 0, length);
    }
    return Verdict(RBD_PATH_FITS, 0, 0);
}

RBDPathVerdict RBD_CheckClashes(const RBDWriteModel &model, const char *path, size_t length,
                                int64_t ignored) {
    for (size_t end = 0; end < length; ++end) {
        if (path[end] == '/' && FileAt(model, path, end, ignored)) {
            return Verdict(RBD_PATH_FILE_THERE, 0, end);
        }
    }
    char group_path[RBD_ENTRY_PATH_MAX + 2];
    std::memcpy(group_path, path, length);
    group_path[length] = '/';
    if (length + 1 <= RBD_MAX_PATH && RBD_GroupPathIsTaken(model, group_path, length + 1)) {
        return Verdict(RBD_PATH_GROUP_THERE, 0, length);
    }
    return Verdict(RBD_PATH_FITS, 0, 0);
}
