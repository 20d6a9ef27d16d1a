#include "output_budget.h"

#include "../types.h"

#include <cstdio>

namespace {

const uint64_t kPackageTimes = 64;
const uint64_t kAllowance = uint64_t{1} << 30;

// Bytes charged so far in this run.
uint64_t charged;

uint64_t Budget() {
    if (package_size > (UINT64_MAX - kAllowance) / kPackageTimes) {
        return UINT64_MAX;
    }
    return package_size * kPackageTimes + kAllowance;
}

} // namespace

bool RBD_ChargeOutput(uint64_t size) {
    uint64_t budget = Budget();
    if (charged > budget || size > budget - charged) {
        return false;
    }
    charged += size;
    return true;
}

void RBD_PrintBudgetExceeded(void) {
    std::printf("ERROR: Output would pass %llu bytes (64 times the package plus 1 GiB), "
                "aborting!\n",
                static_cast<unsigned long long>(Budget()));
}

void RBD_ResetOutputBudget(void) {
    charged = 0;
}
