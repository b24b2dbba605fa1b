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

# zef_cross_test_runtime(target libraries...): a test program linked to one of
# our DLLs (a simulated driver) finds it under Wine through WINEPATH, not by a
# copy beside the program, where the plug-in's own driver search would find
# it too. One such DLL per program.
function(zef_cross_test_runtime target)
    if(NOT WIN32 OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
        return()
    endif()
    set(dirs)
    foreach(library ${ARGN})
        if(NOT TARGET ${library})
            continue()
        endif()
        get_target_property(type ${library} TYPE)
        if(NOT type STREQUAL "SHARED_LIBRARY")
            continue()
        endif()
        get_target_property(dir ${library} RUNTIME_OUTPUT_DIRECTORY)
        if(NOT dir)
            get_target_property(dir ${library} BINARY_DIR)
        endif()
        # Output folders are often written as $<1:folder> to stop per-config
        # subfolders.
        string(REGEX REPLACE "^\\$<1:(.*)>$" "\\1" dir "${dir}")
        list(APPEND dirs ${dir})
    endforeach()
    list(LENGTH dirs count)
    if(count GREATER 1)
        message(FATAL_ERROR "${target}: links ${count} of our DLLs; WINEPATH takes one here")
    elseif(count EQUAL 1)
        set_property(TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR
            env WINEPATH=${dirs} ${CMAKE_CROSSCOMPILING_EMULATOR})
    endif()
endfunction()
