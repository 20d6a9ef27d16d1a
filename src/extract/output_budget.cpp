#include "output_budget.h"

namespace {

const uint64_t kPackageTimes = 64;
const uint64_t kAllowance = uint64_t{1} << 30;

} // namespace

uint64_t RBD_DefaultBudget(uint64_t package_size) {
    if (package_size > (UINT64_MAX - kAllowance) / kPackageTimes) {
        return UINT64_MAX;
    }
    return package_size * kPackageTimes + kAllowance;
}

bool RBD_ChargeOutput(RBDBudget &budget, uint64_t size) {
    if (budget.charged > budget.limit || size > budget.limit - budget.charged) {
        return false;
    }
    budget.charged += size;
    return true;
}
