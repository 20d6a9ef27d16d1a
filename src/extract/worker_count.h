// How many workers an extraction uses when its caller does not say.
#pragma once

// Most workers a run starts, whatever it is asked for.
const unsigned RBD_MOST_WORKERS = 64;

// The processors this process may run on (its affinity mask), at most 8;
// 1 on Windows, until extraction with workers is measured there.
unsigned RBD_DefaultWorkers();

// `asked` (0: the default) within 1 and RBD_MOST_WORKERS.
unsigned RBD_WorkersFor(unsigned asked);
