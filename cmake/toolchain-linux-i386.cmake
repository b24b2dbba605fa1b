# 32-bit Linux on a 64-bit Debian machine (preset linux32): the multilib gcc
# with -m32 and Debian's i386 libraries. It builds what a 32-bit Wine process
# loads beside the 32-bit Windows programs: the Wine bridge and the open
# driver, and the emulated-bridge tests that run them. Not a cross build to
# CMake: every Linux part configures as it does natively.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_ASM_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
# The host's pkg-config with the i386 package files. libftdi1's and
# umockdev's development packages have no i386 twin to install beside the
# amd64 one; cmake/linux32/pkgconfig describes their i386 libraries instead.
set(ENV{PKG_CONFIG_LIBDIR}
    "${CMAKE_CURRENT_LIST_DIR}/linux32/pkgconfig:/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
