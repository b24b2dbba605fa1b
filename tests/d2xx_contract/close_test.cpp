// FT_Close while another thread waits in FT_Read or FT_Write on the handle.
// FTDI documents nothing of it; chosen: the waiting call returns at once
// with FT_INVALID_HANDLE (and the count of what it had moved), FT_Close
// returns with the interface released, and an open right after succeeds.
#include "contract_fixture.h"

#include <atomic>
#include <thread>

namespace zef::contract {
namespace {

using Blocking = std::function<FT_STATUS(FT_HANDLE, DWORD&)>;

// `call` would block for seconds; it runs on a thread, the handle is closed
// under it, and it must be back within one second.
void closeUnder(Model& model, const D2xx& d2xx, FT_HANDLE h, const Blocking& call) {
    std::atomic<bool> entered{false};
    std::atomic<bool> returned{false};
    FT_STATUS status = FT_OK;
    std::thread blocked([&] {
        entered.store(true);
        DWORD moved = 0;
        status = call(h, moved);
        returned.store(true);
    });
    while (!entered.load()) {
        std::this_thread::yield();
    }
    // Gives the call time to start waiting; should FT_Close come first, the
    // call must return at once just the same.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto closing = Clock::now();
    EXPECT_EQ(d2xx.Close(h), FT_OK);
    EXPECT_FALSE(model.held()) << "FT_Close returned with the interface still held";
    const bool back = waitFor([&] { return returned.load(); }, std::chrono::seconds(1));
    EXPECT_TRUE(back) << "the call went on after FT_Close";
    blocked.join();
    EXPECT_LT(Clock::now() - closing, std::chrono::milliseconds(1500));
    EXPECT_EQ(status, FT_INVALID_HANDLE);
}

TEST_P(D2xxContract, CloseWakesABlockedReadAndAReopenSucceedsAtOnce) {
    FT_HANDLE h = open(); // no gateware: nothing will come
    closeUnder(model(), d2xx(), h, [this](FT_HANDLE handle, DWORD& got) {
        Bytes buffer(1000);
        return d2xx().Read(handle, buffer.data(), 1000, &got); // no time-out set
    });
    forget(h);
    h = open();
    EXPECT_TRUE(model().held());
}

TEST_P(D2xxContract, CloseWakesABlockedWriteAndAReopenSucceedsAtOnce) {
    FT_HANDLE h = open();
    ASSERT_EQ(d2xx().SetBitMode(h, 0x85, 1), FT_OK);
    // At least 1.7 s on any bridge here: the bus or the 3 MBd pins.
    constexpr DWORD kBytes = 5000000;
    closeUnder(model(), d2xx(), h, [this](FT_HANDLE handle, DWORD& written) {
        Bytes load(kBytes, 0x80);
        return d2xx().Write(handle, load.data(), kBytes, &written);
    });
    forget(h);
    h = open();
    EXPECT_TRUE(model().held());
}

} // namespace
} // namespace zef::contract
