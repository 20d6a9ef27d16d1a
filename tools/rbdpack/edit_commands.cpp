// rbdpack --add, --delete and --rename: one change each (or, for --delete,
// every path that a pattern matches), made through the writer.
#include "../../src/cli/entries/members.h"
#include "edit_run.h"
#include "edits.h"
#include "messages.h"
#include "source_file.h"

#include <string>
#include <unordered_set>
#include <vector>

namespace {

std::string InQuotes(const std::string &text) {
    return "\"" + ShownOn(stderr, text) + "\"";
}

} // namespace

int RunAdd(const PackArguments &arguments) {
    const std::string file = arguments.operands[1];
    const std::string path = arguments.operands[2];
    EditRun run;
    BeginEdit(run, arguments.operands[0], arguments.dry_run);
    SourceFile source;
    int error = 0;
    // The file named is taken through links, as any program opens a file.
    if (!OpenSource(file, true, source, error)) {
        FailEdit(run, "ERROR: Failed to read \"" + file + "\"" + Reason(error) + ", aborting!");
    }
    uint32_t index = 0;
    bool replacing = kr_find(run.base, path.c_str(), &index) == KR_OK;
    kr_error err;
    int code = PutEntry(run, path, source.fd, replacing, err);
    CloseSource(source);
    if (code == KR_E_INVALID) {
        FailEdit(run, "ERROR: " + RuleBroken(err, path) + ", " + InQuotes(path) + ", aborting!");
    }
    if (code != KR_OK) {
        FailEdit(run, "ERROR: Failed to write " + InQuotes(run.package) + ": " + err.message +
                          ", aborting!");
    }
    return FinishEdit(run);
}

int RunDelete(const PackArguments &arguments) {
    EditRun run;
    BeginEdit(run, arguments.operands[0], arguments.dry_run);
    RBDMembers members;
    std::vector<const char *> patterns(arguments.operands.begin() + 1, arguments.operands.end());
    RBD_ChooseMembers(members, patterns, {});
    std::unordered_set<std::string> removed;
    uint32_t count = kr_entry_count(run.base);
    for (uint32_t index = 0; index < count; ++index) {
        kr_entry entry{};
        kr_entry_at(run.base, index, &entry);
        // Every entry of the path goes at once.
        if (RBD_IsChosen(members, "", entry.path) && removed.insert(entry.path).second) {
            RemoveEntries(run, entry.path);
        }
    }
    // A pattern that matches nothing is likely a mistake: nothing is removed.
    std::vector<std::string> unmatched;
    for (const RBDMember &member : members.patterns) {
        if (!member.matched) {
            unmatched.push_back("No entry matches " + InQuotes(member.as_given));
        }
    }
    if (unmatched.size() == 1) {
        FailEdit(run, "ERROR: " + unmatched.front() + ", aborting!");
    }
    if (!unmatched.empty()) {
        for (const std::string &line : unmatched) {
            std::fprintf(stderr, "ERROR: %s!\n", line.c_str());
        }
        FailEdit(run, "ERROR: " + std::to_string(unmatched.size()) +
                          " patterns match nothing, aborting!");
    }
    return FinishEdit(run);
}

int RunRename(const PackArguments &arguments) {
    const std::string from = arguments.operands[1];
    const std::string to = arguments.operands[2];
    EditRun run;
    BeginEdit(run, arguments.operands[0], arguments.dry_run);
    kr_error err;
    int code = kr_writer_rename(run.writer, from.c_str(), to.c_str(), &err);
    uint32_t index = 0;
    if (code == KR_E_NOT_FOUND) {
        FailEdit(run, "ERROR: No entry has the path " + InQuotes(from) + ", aborting!");
    }
    if (code == KR_E_INVALID && kr_find(run.base, to.c_str(), &index) == KR_OK) {
        FailEdit(run, "ERROR: An entry has the path " + InQuotes(to) + " already, aborting!");
    }
    if (code == KR_E_INVALID) {
        FailEdit(run, "ERROR: " + RuleBroken(err, to) + ", " + InQuotes(to) + ", aborting!");
    }
    if (code != KR_OK) {
        FailEdit(run, "ERROR: Failed to write " + InQuotes(run.package) + ": " + err.message +
                          ", aborting!");
    }
    NoteRename(run, from, to);
    return FinishEdit(run);
}
