#include "driver_check.h"

#include "zef/instrument.h"

#include <cstdio>

namespace zef::host {

std::string driverCheck() {
    const instrument::Listing listing = instrument::list();
    if (listing.status != 0) {
        return "the driver cannot be used: " + instrument::describeStatus(listing.status);
    }
    const std::string file = instrument::state().libraryFile;
    const std::string through = file.empty() ? "" : " (D2XX library " + file + ")";
    if (listing.instruments.empty()) {
        return "the driver lists " + std::to_string(listing.devices) +
               " device(s), none of them the instrument" + through;
    }
    const instrument::Listed& first = listing.instruments.front();
    char location[16];
    std::snprintf(location, sizeof location, "0x%x", first.location);
    return "the driver lists the instrument (" + first.description + " at " + location +
           "), so it is there: another program may hold it, or its gateware never came up" +
           through;
}

} // namespace zef::host
