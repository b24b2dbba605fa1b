// Faults an emulated bridge injects into the URBs it is given, per kind of
// URB and on demand: refused at submit, given back with an error, bulk-IN
// transfers cut short or empty, or nothing answered at all. Each kind counts
// what it injected. Not thread-safe: the bridge's lock guards it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>

namespace zef::usbtest {

enum class UrbKind : std::uint8_t { Control, BulkIn, BulkOut };

struct UrbFault {
    int submitErrno = 0;     // refused at submit with this errno
    int status = 0;          // else given back with this status (-EPROTO, ...), no data
    bool shortIn = false;    // else a bulk-IN transfer ends after its first packet
    bool zeroLength = false; // or at once, empty
};

class UrbFaults {
  public:
    // The next `count` URBs of `kind` meet `fault`.
    void inject(UrbKind kind, UrbFault fault, std::size_t count);
    // Each control and bulk-IN URB meets one of the faults above with
    // probability `share`. Bulk-OUT URBs are spared: the gateware's load is
    // hundreds of them, and any share would spoil nearly every load.
    void randomly(double share, std::uint32_t seed);
    void calm(); // no more faults, planned or random
    // While silent the bridge answers no URB: they wait until discarded or
    // the unplug, as on a bridge that hangs.
    void silence(bool silent) { silent_ = silent; }
    [[nodiscard]] bool silent() const { return silent_; }

    // What the URB about to be submitted or given back meets.
    UrbFault next(UrbKind kind);
    [[nodiscard]] std::size_t injected() const { return injected_; }

  private:
    struct Plan {
        UrbFault fault;
        std::size_t count = 0;
    };
    std::array<Plan, 3> planned_{};
    double share_ = 0.0;
    std::mt19937 random_{1};
    bool silent_ = false;
    std::size_t injected_ = 0;
};

} // namespace zef::usbtest
