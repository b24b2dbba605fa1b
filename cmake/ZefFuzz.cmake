# libFuzzer targets (clang, ZEF_FUZZ=ON). tests/fuzz/targets.list names each
# target with its seed corpus and options; this file builds the short test
# from that line, scripts/stages/50-fuzz runs those tests and
# bench/fuzz-long.sh the long runs.
set(ZEF_FUZZ_LIST ${PROJECT_SOURCE_DIR}/tests/fuzz/targets.list)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZEF_FUZZ_LIST})
set(ZEF_FUZZ_SHORT_SECONDS 10 CACHE STRING "Length of each fuzz target's run in the test suite")

# zef_fuzz_target(name CODE sources... [HARNESS sources...] [LIBS ...]
#                 [INCLUDES ...] [DEFINITIONS ...] [EDGES_ONLY])
# CODE is the code under test, compiled with the fuzzer's coverage feedback.
# HARNESS holds the target's own checks (a reference model, say), compiled
# without it: their branches say nothing about the code under test, and the
# comparison hooks in them would cost more than the code itself. Both get
# AddressSanitizer and UndefinedBehaviorSanitizer. EDGES_ONLY leaves out the
# comparison hooks, for code that compares every byte against constants a
# dictionary already gives (bench/RESULTS.md has the parser's figures).
function(zef_fuzz_target name)
    cmake_parse_arguments(ARG "EDGES_ONLY" "" "CODE;HARNESS;LIBS;INCLUDES;DEFINITIONS" ${ARGN})
    # What both halves are built with; the code's objects go into the program.
    set(usage ${name}_usage)
    add_library(${usage} INTERFACE)
    target_include_directories(${usage} INTERFACE ${PROJECT_SOURCE_DIR} ${ARG_INCLUDES})
    target_link_libraries(${usage} INTERFACE ${ARG_LIBS})
    target_compile_definitions(${usage} INTERFACE ${ARG_DEFINITIONS})
    target_compile_options(${usage} INTERFACE -fsanitize=address,undefined
        -fsanitize=float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer)

    set(code ${name}_code)
    add_library(${code} OBJECT ${ARG_CODE})
    target_link_libraries(${code} PRIVATE ${usage})
    set(ignorelist ${PROJECT_SOURCE_DIR}/cmake/fuzz_coverage_ignorelist.txt)
    target_compile_options(${code} PRIVATE -fsanitize=fuzzer-no-link
        -fsanitize-coverage-ignorelist=${ignorelist})
    set_source_files_properties(${ARG_CODE} TARGET_DIRECTORY ${code}
        PROPERTIES OBJECT_DEPENDS ${ignorelist})
    if(ARG_EDGES_ONLY)
        target_compile_options(${code} PRIVATE -fno-sanitize-coverage=trace-cmp)
    endif()
    zef_warnings(${code})

    add_executable(${name} ${ARG_HARNESS} $<TARGET_OBJECTS:${code}>)
    target_link_libraries(${name} PRIVATE ${usage})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    zef_warnings(${name})

    file(STRINGS ${ZEF_FUZZ_LIST} line REGEX "^${name}[ \t]")
    if(NOT line)
        message(FATAL_ERROR "${name}: no line in ${ZEF_FUZZ_LIST}")
    endif()
    separate_arguments(fields UNIX_COMMAND "${line}")
    list(GET fields 1 corpus)
    list(LENGTH fields count)
    set(options)
    if(count GREATER 2)
        list(SUBLIST fields 2 -1 options)
    endif()
    # New inputs go to a scratch folder; the committed corpus stays as it is.
    set(scratch ${CMAKE_CURRENT_BINARY_DIR}/${name}_scratch)
    file(MAKE_DIRECTORY ${scratch})
    add_test(NAME ${name}_short
        COMMAND ${name} -max_total_time=${ZEF_FUZZ_SHORT_SECONDS} -timeout=10 ${options}
            -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}- ${scratch} ${corpus}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    set_tests_properties(${name}_short PROPERTIES TIMEOUT 120 LABELS fuzz)
endfunction()
