#include "instrument_description.h"

#include <cstring>

namespace zef {

bool isInstrument(const char* description) {
    return std::strcmp(description, kDescriptionKr27xx) == 0 ||
           std::strcmp(description, kDescriptionZef418) == 0;
}

bool isRelative(const char* description) {
    return isInstrument(description) || std::strcmp(description, kDescriptionOscilloscope) == 0 ||
           std::strcmp(description, kDescriptionKr27) == 0;
}

} // namespace zef
