#include "stream_parser.h"

namespace zef {

void parserPass(const platform::Thread& /*worker*/) {}

} // namespace zef
