#include "worker_count.h"

#include <algorithm>

#if defined(__linux__)
#include <sched.h>
#elif !defined(_WIN32)
#include <thread>
#endif

namespace {

const unsigned kMostByDefault = 8;

unsigned UsableProcessors() {
#if defined(_WIN32)
    return 1;
#elif defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) {
        return 1;
    }
    int count = CPU_COUNT(&set);
    return count > 0 ? static_cast<unsigned>(count) : 1;
#else
    unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? count : 1;
#endif
}

} // namespace

unsigned RBD_DefaultWorkers() {
    return std::min(UsableProcessors(), kMostByDefault);
}

unsigned RBD_WorkersFor(unsigned asked) {
    if (asked == 0) {
        return RBD_DefaultWorkers();
    }
    return asked < RBD_MOST_WORKERS ? asked : RBD_MOST_WORKERS;
}
