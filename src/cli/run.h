// The steps of a run that the classic command line and option mode share.
#pragma once

#include "run_state.h"

// Checks that `input` exists and makes it the run's package; when
// `names_root` (the output root is named after the package), checks that its
// file name can name one. Fatal errors end the run with status 1.
void RBD_PreparePackage(RBDRun &run, const char *input, bool names_root);

// Sets the run's workers: `asked` (-j; 0 when not given), else
// KESTRUN_JOBS from the environment, else the default of RBD_WorkersFor.
// A KESTRUN_JOBS that is no number of workers ends the run with status 1.
void RBD_ChooseJobs(RBDRun &run, unsigned asked);

// Runs option mode (argv[1] is an option word) to its end.
[[noreturn]] void RBD_RunWithOptions(RBDRun &run, int argc, char **argv);
