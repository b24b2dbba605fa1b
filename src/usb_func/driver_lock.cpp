#include "driver_lock.h"

namespace zef {

namespace {
platform::Mutex lock;
} // namespace

platform::Mutex& driverLock() {
    return lock;
}

} // namespace zef
