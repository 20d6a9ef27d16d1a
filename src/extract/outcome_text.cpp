#include "outcome_text.h"

#include "../lib/system_text.h"
#include "entry_data.h"

#include <cstdio>

namespace {

// The words of an outcome that names the entry; `detail` follows the name in
// full wording (": the name is empty"), as the system's reason does.
struct RBDPhrase {
    const char *words;
    bool names_group;  // the classic run names the group path alone
    bool names_output; // the classic run names the output path
    bool gives_reason; // full wording adds the system's reason
    const char *detail;
};

RBDPhrase PhraseOf(RBDEntryOutcome outcome) {
    switch (outcome) {
    case RBD_ENTRY_WRITTEN:
    case RBD_ENTRY_KEPT:
    case RBD_ENTRY_OVER_BUDGET:
        break;
    case RBD_ENTRY_UNSAFE:
        return {"Refusing unsafe path", false, false, false, nullptr};
    case RBD_ENTRY_TOO_LONG:
        return {"Path too long", false, false, false, nullptr};
    case RBD_ENTRY_THROUGH_LINK:
        return {"Refusing to extract through a link", true, false, false, nullptr};
    case RBD_ENTRY_NO_PATH:
        return {"Failed to create path", true, false, true, nullptr};
    case RBD_ENTRY_IS_PACKAGE:
        return {"Refusing to overwrite the package", false, true, false, nullptr};
    case RBD_ENTRY_EMPTY_NAME:
        return {"Failed to write to destination", false, true, false, "the name is empty"};
    case RBD_ENTRY_WRITE_FAILED:
        return {"Failed to write to destination", false, true, true, nullptr};
    case RBD_ENTRY_NOT_REPLACED:
        return {"Refusing to replace", false, true, false, nullptr};
    }
    return {nullptr, false, false, false, nullptr};
}

} // namespace

bool RBD_WordOutcome(RBDWording wording, const RBDEntryResult &result,
                     const RBDOutcomeSubject &entry, char *text, size_t size) {
    text[0] = '\0';
    if (result.outcome == RBD_ENTRY_OVER_BUDGET) {
        std::snprintf(text, size, "Output would pass %llu bytes with \"%s%s\"",
                      static_cast<unsigned long long>(entry.budget), entry.group, entry.name);
        return true;
    }
    RBDPhrase phrase = PhraseOf(result.outcome);
    if (phrase.words == nullptr) {
        return false;
    }
    // Wine's refusal puts its reason after the name, in either wording.
    bool wine = result.outcome == RBD_ENTRY_NOT_REPLACED;
    const char *after = wine ? " under Wine, which can't tell a link from a file" : "";
    const char *separator = wine ? " " : ", ";
    if (wording == RBD_WORDING_CLASSIC) {
        char out_path[RBD_MAX_PATH + 1] = "";
        if (phrase.names_output) {
            RBD_FormatOutputPath(out_path, entry.root_name, entry.group, entry.name);
        }
        const char *shown = phrase.names_output ? out_path : entry.group;
        const char *name = phrase.names_group || phrase.names_output ? "" : entry.name;
        std::snprintf(text, size, "%s%s\"%s%s\"%s", phrase.words, separator, shown, name, after);
        return true;
    }
    char reason[128] = "";
    const char *detail = phrase.gives_reason
                             ? RBD_SystemText(result.os_error, reason, sizeof reason)
                             : phrase.detail;
    std::snprintf(text, size, "%s%s\"%s%s\"%s%s%s", phrase.words, separator, entry.group,
                  entry.name, after, detail != nullptr ? ": " : "",
                  detail != nullptr ? detail : "");
    return true;
}

void RBD_WordDataMissing(RBDWording wording, const RBDOutcomeSubject &entry, char *text,
                         size_t size) {
    if (wording == RBD_WORDING_CLASSIC) {
        std::snprintf(text, size, "Failed to read in data");
    } else {
        std::snprintf(text, size, "Failed to read in data, \"%s%s\"", entry.group, entry.name);
    }
}
