#include "edit_run.h"

#include <cctype>
#include <csignal>
#include <cstdlib>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool IsTerminal(FILE *stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

std::string Quoted(FILE *stream, const std::string &text) {
    return "\"" + ShownOn(stream, text) + "\"";
}

// "Updated "game.rbd": 1 changed, 0 new, 2 gone."; no word of it begins a
// line of a change.
std::string Counts(const EditCounts &counts) {
    if (counts.renamed > 0) {
        return std::to_string(counts.renamed) + (counts.renamed == 1 ? " name" : " names") +
               " changed";
    }
    return std::to_string(counts.changed) + " changed, " + std::to_string(counts.added) + " new, " +
           std::to_string(counts.gone) + " gone";
}

void Release(EditRun &run) {
    kr_writer_abort(run.writer);
    run.writer = nullptr;
    kr_close(run.base);
    run.base = nullptr;
}

} // namespace

std::string ShownOn(FILE *stream, const std::string &text) {
    if (!IsTerminal(stream)) {
        return text;
    }
    int length = kr_escape_text(text.c_str(), nullptr, 0);
    if (length < 0) {
        return text;
    }
    std::string shown(static_cast<size_t>(length) + 1, '\0');
    kr_escape_text(text.c_str(), shown.data(), shown.size());
    shown.pop_back();
    return shown;
}

std::string RuleBroken(const kr_error &err, const std::string &path) {
    std::string rule = err.message;
    // The writer's refusals of a path begin with it, cut when it is long:
    // "\"a.wav\": a file ...".
    size_t end = rule.find("\": ");
    if (!rule.empty() && rule[0] == '"' && end != std::string::npos &&
        path.compare(0, end - 1, rule, 1, end - 1) == 0) {
        rule.erase(0, end + 3);
    }
    if (!rule.empty()) {
        rule[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(rule[0])));
    }
    return rule;
}

void BeginEdit(EditRun &run, const char *package, bool dry_run) {
#ifndef _WIN32
    // Past a file size limit a write then fails, and says why, rather than
    // ending the run.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    run.package = package;
    run.dry_run = dry_run;
    kr_error err;
    if (kr_open(package, 0, &run.base, &err) != KR_OK) {
        FailEdit(run, "ERROR: Failed to open " + Quoted(stderr, run.package) + ": " + err.message +
                          ", aborting!");
    }
    if (kr_writer_begin(run.base, package, 0, &run.writer, &err) != KR_OK) {
        FailEdit(run, "ERROR: Failed to write " + Quoted(stderr, run.package) + ": " + err.message +
                          ", aborting!");
    }
}

void FailEdit(EditRun &run, const std::string &line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    AbandonEdit(run);
}

void AbandonEdit(EditRun &run) {
    Release(run);
    std::exit(1);
}

int PutEntry(EditRun &run, const std::string &path, int fd, bool replacing, kr_error &err) {
    int code = kr_writer_put_fd(run.writer, path.c_str(), fd, &err);
    if (code == KR_OK) {
        run.lines.push_back((replacing ? "Replacing " : "Adding ") + Quoted(stdout, path));
        ++(replacing ? run.counts.changed : run.counts.added);
    }
    return code;
}

void RemoveEntries(EditRun &run, const std::string &path) {
    kr_error err;
    if (kr_writer_remove(run.writer, path.c_str(), &err) != KR_OK) {
        FailEdit(run, "ERROR: Failed to remove " + Quoted(stderr, path) + ": " + err.message +
                          ", aborting!");
    }
    run.lines.push_back("Removing " + Quoted(stdout, path));
    ++run.counts.gone;
}

void NoteRename(EditRun &run, const std::string &from, const std::string &to) {
    run.lines.push_back("Renaming " + Quoted(stdout, from) + " to " + Quoted(stdout, to));
    ++run.counts.renamed;
}

int FinishEdit(EditRun &run) {
    kr_writer_info info{};
    kr_writer_get_info(run.writer, &info);
    // A package holds one record at least: kestrun refuses one without.
    if (info.entries == 0) {
        FailEdit(run,
                 "ERROR: No entry would be left in " + Quoted(stderr, run.package) + ", aborting!");
    }
    if (run.dry_run || run.lines.empty()) {
        kr_writer_abort(run.writer);
    } else {
        kr_error err;
        int code = kr_writer_commit(run.writer, &err);
        run.writer = nullptr; // freed whatever the outcome
        if (code != KR_OK) {
            FailEdit(run, "ERROR: Failed to write " + Quoted(stderr, run.package) + ": " +
                              err.message + ", aborting!");
        }
    }
    run.writer = nullptr;
    for (const std::string &line : run.lines) {
        std::printf("%s\n", line.c_str());
    }
    if (run.dry_run) {
        std::printf("Dry run, nothing written to %s: %s.\n", Quoted(stdout, run.package).c_str(),
                    Counts(run.counts).c_str());
    } else {
        std::printf("Updated %s: %s.\n", Quoted(stdout, run.package).c_str(),
                    Counts(run.counts).c_str());
    }
    Release(run);
    return 0;
}
