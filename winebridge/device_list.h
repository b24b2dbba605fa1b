// What the bridge lists to the Windows side: only the instrument's bridges
// (described "ZEF418" or "Digital Oscilloscope KR27xx"), ordered by location
// id. The plug-in opens index 0 of the bridge library whatever it is, so a
// foreign FTDI adapter listed first by the Linux library would otherwise get
// the gateware as bit-bang bytes.
#pragma once

#include "linux_driver.h"

#include <cstddef>
#include <vector>

namespace zef::winebridge {

struct ListedInstrument {
    DWORD location = 0;
    char description[kDescriptionSize] = {};
    char serial[kDescriptionSize] = {};
};

// Asks the Linux library for its whole list and keeps the instruments. A
// device whose location or description cannot be read is left out.
FT_STATUS listInstruments(const LinuxD2xx& d2xx, std::vector<ListedInstrument>& instruments);

} // namespace zef::winebridge
