// The device list of a driver on USB: every channel of a chip with several
// listed as a device of its own, and a location id for every port path.
#include "contract_fixture.h"

#include <algorithm>
#include <map>

namespace zef::contract {
namespace {

struct Listed {
    std::string description;
    std::uint32_t location = 0;
};

std::vector<Listed> listAll(const D2xx& d2xx) {
    std::vector<Listed> listed;
    DWORD count = 0;
    EXPECT_EQ(d2xx.CreateDeviceInfoList(&count), FT_OK);
    for (DWORD i = 0; i < count; ++i) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        void* index = reinterpret_cast<void*>(std::uintptr_t{i});
        char description[kDescriptionSize] = {};
        Listed entry;
        EXPECT_EQ(d2xx.ListDevices(index, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
                  FT_OK);
        EXPECT_EQ(d2xx.ListDevices(index, &entry.location, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION),
                  FT_OK);
        entry.description = description;
        listed.push_back(entry);
    }
    return listed;
}

FT_HANDLE openAt(const D2xx& d2xx, std::uint32_t location) {
    FT_HANDLE handle = nullptr;
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    EXPECT_EQ(d2xx.OpenEx(reinterpret_cast<void*>(std::uintptr_t{location}), FT_OPEN_BY_LOCATION,
                          &handle),
              FT_OK)
        << std::hex << location;
    return handle;
}

// Documented (D2XX lists each channel of a multi-channel chip as a device,
// its description the product string followed by " A", " B", each with a
// location id of its own): both channels open at once, each on its own
// interface, and what is written to one reaches that channel only.
TEST_P(D2xxContract, EveryChannelIsListedAndOpensOnItsOwnInterface) {
    if (!model().onUsb()) {
        GTEST_SKIP() << GetParam() << " lists no USB devices";
    }
    model().plugOther(2, {1}, "Dual RS232-HS", 2);
    std::map<std::string, std::uint32_t> byName;
    for (const Listed& entry : listAll(d2xx())) {
        byName[entry.description] = entry.location;
    }
    ASSERT_EQ(byName.count("Dual RS232-HS A"), 1U);
    ASSERT_EQ(byName.count("Dual RS232-HS B"), 1U);
    EXPECT_EQ(byName.count("Dual RS232-HS"), 0U);
    EXPECT_NE(byName["Dual RS232-HS A"], byName["Dual RS232-HS B"]);
    const FT_HANDLE b = openAt(d2xx(), byName["Dual RS232-HS B"]);
    EXPECT_TRUE(model().otherHeld(0, 1));
    EXPECT_FALSE(model().otherHeld(0, 0));
    const FT_HANDLE a = openAt(d2xx(), byName["Dual RS232-HS A"]);
    EXPECT_TRUE(model().otherHeld(0, 0));
    std::uint8_t bytes[3] = {1, 2, 3};
    DWORD written = 0;
    ASSERT_EQ(d2xx().Write(b, bytes, 3, &written), FT_OK);
    ASSERT_TRUE(waitFor([&] { return model().otherUartBytes(0, 1) == 3; }));
    EXPECT_EQ(model().otherUartBytes(0, 0), 0U);
    EXPECT_EQ(d2xx().Close(a), FT_OK);
    EXPECT_EQ(d2xx().Close(b), FT_OK);
    EXPECT_FALSE(model().otherHeld(0, 0));
    EXPECT_FALSE(model().otherHeld(0, 1));
}

// Chosen, where FTDI's digits (one per bus, port and channel) do not fit:
// every bridge gets a location id of its own, and opening by it opens that
// bridge. Buses and ports above 15 and a hub chain seven deep included.
TEST_P(D2xxContract, LocationIdsDifferForEveryPortPathDeepHubsIncluded) {
    if (!model().onUsb()) {
        GTEST_SKIP() << GetParam() << " lists no USB devices";
    }
    const std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> paths = {
        {1, {1, 2}},                // 0x112 in FTDI's digits
        {1, {18}},                  // a root port above 15
        {16, {1}},                  // a bus above 15
        {2, {1, 2, 3, 4, 5, 6, 7}}, // seven deep
        {2, {1, 2, 3, 4, 5, 6, 8}},
        {3, {15, 15}},
    };
    for (const auto& [bus, ports] : paths) {
        model().plugOther(bus, ports, "FT232R USB UART", 1);
    }
    const std::vector<Listed> listed = listAll(d2xx());
    ASSERT_EQ(listed.size(), paths.size() + (model().description().ends_with(" A") ? 2 : 1));
    std::vector<std::uint32_t> locations;
    for (const Listed& entry : listed) {
        locations.push_back(entry.location);
    }
    std::sort(locations.begin(), locations.end());
    EXPECT_EQ(std::adjacent_find(locations.begin(), locations.end()), locations.end());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        // The bridges are listed in location order; find each by opening.
        std::size_t opened = paths.size();
        for (const Listed& entry : listed) {
            if (entry.description != "FT232R USB UART") {
                continue;
            }
            const FT_HANDLE h = openAt(d2xx(), entry.location);
            if (model().otherHeld(i, 0)) {
                opened = i;
            }
            d2xx().Close(h);
            if (opened == i) {
                break;
            }
        }
        EXPECT_EQ(opened, i) << "no location opens the bridge on bus " << int{paths[i].first};
    }
}

} // namespace
} // namespace zef::contract
