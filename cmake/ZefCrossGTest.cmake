# GoogleTest for cross builds (MinGW-w64), built from Debian's sources in
# /usr/src/googletest, since the host's libgtest is a Linux library. Provides
# the same GTest::gtest / GTest::gtest_main (and GTest::gmock) targets as
# find_package(GTest) does natively.
set(ZEF_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")

if(NOT TARGET GTest::gtest)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    # GoogleTest uses Win32 locks on MinGW; it needs the posix thread model's
    # std::mutex only for its Notification helper.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    # SYSTEM: our strict warnings do not apply to GoogleTest's headers.
    add_subdirectory(${ZEF_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest
        EXCLUDE_FROM_ALL SYSTEM)
    # Newer GoogleTest releases name these aliases themselves.
    foreach(library gtest gtest_main gmock gmock_main)
        if(NOT TARGET GTest::${library})
            add_library(GTest::${library} ALIAS ${library})
        endif()
    endforeach()
endif()
