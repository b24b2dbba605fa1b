# Shared part of the MinGW-w64 toolchain files; ZEF_MINGW_TRIPLE names the
# target.
set(CMAKE_SYSTEM_NAME Windows)
if(ZEF_MINGW_TRIPLE MATCHES "^x86_64")
    set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
    set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

# Debian ships each compiler in two thread models. The win32 one has no
# std::thread or std::mutex, which GoogleTest 1.12 and the threaded tests
# need, so the posix one builds everything here. Our code uses Win32 threads
# directly either way, and the static link keeps libwinpthread inside the
# DLL. ZEF_MINGW_THREADS=win32 builds the plug-in alone with the other model
# (configure with ZEF_BUILD_TESTS=OFF).
if(NOT ZEF_MINGW_THREADS)
    set(ZEF_MINGW_THREADS posix)
endif()
set(CMAKE_C_COMPILER ${ZEF_MINGW_TRIPLE}-gcc-${ZEF_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${ZEF_MINGW_TRIPLE}-g++-${ZEF_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${ZEF_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEF_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Hosts refuse a plug-in whose runtime DLL is missing: every program and
# library carries its C and C++ runtime inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest and gtest_discover_tests run the test programs under Wine, through a
# launcher that starts again a program Wine ended before it ran. Debian
# keeps the 64-bit loader out of PATH; the plain `wine` launcher also starts
# 64-bit programs, one re-exec later.
if(ZEF_MINGW_TRIPLE MATCHES "^x86_64")
    find_program(ZEF_WINE NAMES wine64 wine PATHS /usr/lib/wine)
else()
    find_program(ZEF_WINE NAMES wine)
endif()
if(ZEF_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-test-launcher ${ZEF_WINE})
endif()
