// Extraction's rules for a caller that lays out the tree itself (the mount):
// the output root's name, each entry's verdict, the command line's words for
// what becomes of an entry, its member rule, and names escaped as it shows
// them on a terminal.
#include "../extract/outcome_text.h"
#include "../hostkit/hostkit.h"
#include "../package/escaped_text.h"
#include "../package/member_pattern.h"
#include "../package/root_name.h"
#include "package_table.h"
#include "verdict.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

bool ToEngineOutcome(int outcome, RBDEntryOutcome &out) {
    switch (outcome) {
    case KR_OUTCOME_WRITTEN:
        out = RBD_ENTRY_WRITTEN;
        return true;
    case KR_OUTCOME_UNSAFE:
        out = RBD_ENTRY_UNSAFE;
        return true;
    case KR_OUTCOME_TOO_LONG:
        out = RBD_ENTRY_TOO_LONG;
        return true;
    case KR_OUTCOME_EMPTY_NAME:
        out = RBD_ENTRY_EMPTY_NAME;
        return true;
    case KR_OUTCOME_NO_PATH:
        out = RBD_ENTRY_NO_PATH;
        return true;
    case KR_OUTCOME_WRITE_FAILED:
        out = RBD_ENTRY_WRITE_FAILED;
        return true;
    case KR_OUTCOME_NO_DATA:
        out = RBD_ENTRY_WRITTEN;
        return true;
    default:
        return false;
    }
}

int ToPublicOutcome(RBDEntryOutcome outcome) {
    switch (outcome) {
    case RBD_ENTRY_UNSAFE:
        return KR_OUTCOME_UNSAFE;
    case RBD_ENTRY_TOO_LONG:
        return KR_OUTCOME_TOO_LONG;
    case RBD_ENTRY_EMPTY_NAME:
        return KR_OUTCOME_EMPTY_NAME;
    default:
        return KR_OUTCOME_WRITTEN;
    }
}

} // namespace

int kr_root_name(const char *path, char *root) {
    if (path == nullptr || root == nullptr) {
        return KR_E_INVALID;
    }
    char name[RBD_MAX_PACKAGE_NAME + 1];
    if (!RBD_RootNameOf(hkGetFileName(path), name)) {
        root[0] = '\0';
        return KR_E_INVALID;
    }
    std::memcpy(root, name, std::strlen(name) + 1);
    return KR_OK;
}

int kr_entry_verdict(const kr_package *pkg, uint32_t index, const char *root_name) {
    if (pkg == nullptr || root_name == nullptr || index >= pkg->entries.size()) {
        return KR_E_INVALID;
    }
    return ToPublicOutcome(RBD_VerdictOf(*pkg, index, root_name));
}

int kr_outcome_text(const kr_package *pkg, uint32_t index, const char *root_name, int outcome,
                    char *text, size_t size) {
    RBDEntryResult result{RBD_ENTRY_WRITTEN, false, 0};
    if (pkg == nullptr || root_name == nullptr || index >= pkg->entries.size() ||
        !ToEngineOutcome(outcome, result.outcome) || (text == nullptr && size > 0)) {
        return KR_E_INVALID;
    }
    kr_entry entry;
    RBD_ViewEntry(*pkg, index, entry);
    RBDOutcomeSubject subject{root_name, entry.group, entry.name, 0};
    char phrase[RBD_OUTCOME_TEXT];
    if (outcome == KR_OUTCOME_NO_DATA) {
        RBD_WordDataMissing(RBD_WORDING_CLASSIC, subject, phrase, sizeof phrase);
    } else {
        RBD_WordOutcome(RBD_WORDING_CLASSIC, result, subject, phrase, sizeof phrase);
    }
    return std::snprintf(text, size, "%s", phrase);
}

int kr_member_match(const char *pattern, const char *path) {
    if (pattern == nullptr || path == nullptr) {
        return 0;
    }
    // Most patterns are as the user means them: no copy for those.
    size_t length = std::strlen(pattern);
    if (std::strncmp(pattern, "./", 2) != 0 && (length == 0 || pattern[length - 1] != '/')) {
        return RBD_MemberMatches(pattern, path) ? 1 : 0;
    }
    try {
        return RBD_MemberMatches(NormalizedPattern(pattern).c_str(), path) ? 1 : 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

int kr_escape_text(const char *text, char *out, size_t size) {
    if (text == nullptr || (out == nullptr && size > 0)) {
        return KR_E_INVALID;
    }
    try {
        std::string shown = RBD_EscapeControls(text);
        if (shown.size() > INT_MAX) {
            return KR_E_INVALID;
        }
        return std::snprintf(out, size, "%s", shown.c_str());
    } catch (const std::bad_alloc &) {
        return KR_E_NOMEM;
    }
}
