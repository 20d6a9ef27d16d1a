// --diff OTHER PACKAGE: compares what an extraction would leave of PACKAGE
// with OTHER, a package (what its extraction would leave) or a directory,
// such as an earlier extraction. One line for each path that differs, in
// the order of `git diff --name-status`: "A\tPATH" only in PACKAGE,
// "D\tPATH" only in OTHER, "M\tPATH" in both with other bytes. Sizes are
// compared first, and bytes only where the sizes agree, in pieces, up to
// the first that differs.
#pragma once

#include "../options.h"
#include "../run_state.h"

// Runs the comparison to its end: status 0 when the two are the same, 2 when
// they differ, 1 after an error. With `options.quiet` nothing is printed
// but warnings and errors, and the run stops at the first difference.
[[noreturn]] void RBD_RunDiff(RBDRun &run, const RBDOptions &options);
