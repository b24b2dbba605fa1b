#include "urb_faults.h"

#include <cerrno>

namespace zef::usbtest {

void UrbFaults::inject(UrbKind kind, UrbFault fault, std::size_t count) {
    planned_[static_cast<std::size_t>(kind)] = {fault, count};
}

void UrbFaults::randomly(double share, std::uint32_t seed) {
    share_ = share;
    random_.seed(seed);
}

void UrbFaults::calm() {
    planned_ = {};
    share_ = 0.0;
}

UrbFault UrbFaults::next(UrbKind kind) {
    Plan& plan = planned_[static_cast<std::size_t>(kind)];
    if (plan.count > 0) {
        --plan.count;
        ++injected_;
        return plan.fault;
    }
    if (share_ <= 0.0 || kind == UrbKind::BulkOut ||
        std::uniform_real_distribution<double>(0.0, 1.0)(random_) >= share_) {
        return {};
    }
    ++injected_;
    static constexpr int kErrors[] = {EPROTO, EPIPE, EOVERFLOW, ETIMEDOUT};
    const auto pick = random_() % 6;
    if (pick == 0) {
        return {.submitErrno = random_() % 2 == 0 ? ENOMEM : EIO};
    }
    if (pick <= 2 || kind == UrbKind::Control) {
        return {.status = -kErrors[random_() % 4]};
    }
    return pick == 3 ? UrbFault{.shortIn = true} : UrbFault{.zeroLength = true};
}

} // namespace zef::usbtest
