// Shared fixture of the end-to-end tests: a scratch directory holding the
// working directory "work/", so that anything kestrun writes outside its
// working directory is seen.
#pragma once

#include "rbd_writer.h"
#include "run.h"
#include "tempdir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

extern const char kBanner[];

class ExtractTest : public ::testing::Test {
  protected:
    void SetUp() override;

    // Writes `bytes` as work/<name> and runs kestrun on it from work/.
    RunResult RunBytes(const std::string &bytes, const std::string &name = "pkg.rbd",
                       const RunOptions &options = {});
    RunResult RunLayout(const PackLayout &layout, const std::string &name = "pkg.rbd",
                        const RunOptions &options = {});

    // Writes `layout` as work/pkg.rbd and runs kestrun with `args` from work/.
    RunResult RunWith(const PackLayout &layout, const std::vector<std::string> &args,
                      const RunOptions &options = {});

    // Path of a file below the working directory.
    std::string Work(const std::string &relative) const;
    // The output tree below work/<root>, as ListTree gives it.
    std::vector<std::string> Tree(const std::string &root = "pkg") const;
    // Fails unless everything in the scratch directory is inside work/.
    void ExpectNothingOutsideWork() const;

    TempDir scratch_;
};

// The package most tests start from: data/ holds snd/ (a.wav, b.wav) and
// txt/ (readme.txt); six records, 1614 bytes.
PackLayout SoundAndText();

// Empty group names, which extraction passes over: a top-level directory
// group named "" holding the file group "etc" with "passwd" (written to
// etc/passwd below the output root, never /etc/passwd); the path a/x three
// times: a real a/x, then "a//x" (the directory group "a" holding a file
// group named ""), which extraction writes over it, then the unsafe name
// "a/x" in a top-level file group named "", which it refuses.
PackLayout EmptyGroupNames();

// A pseudo-terminal whose output is passed on as written ("\n" stays "\n"),
// to stand for the user's terminal as a run's standard output or error.
struct PseudoTerminal {
    int master = -1;
    int terminal = -1; // the side a run writes to
};
PseudoTerminal OpenPseudoTerminal();
// Closes the terminal's side and gives everything written to it.
std::string DrainPseudoTerminal(PseudoTerminal &pty);

// "Writing ..." line for an entry of pkg.rbd.
std::string WritingLine(const std::string &group_path, const std::string &name);
