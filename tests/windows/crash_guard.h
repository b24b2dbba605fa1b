// Under Wine a process whose thread crashed can end with status 0, so a test
// program would pass although the plug-in's worker crashed. After
// failOnCrash, a crash in any thread names itself on stderr and ends the
// process with status 3.
#pragma once

namespace zef::test {

void failOnCrash();

} // namespace zef::test
