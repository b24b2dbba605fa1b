# 32-bit Windows with MinGW-w64 (the default win32 thread model); test
# programs run under Wine.
set(ZEF_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
