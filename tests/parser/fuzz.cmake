# The parser's fuzz target. It compiles its own instrumented copy of the
# parser core rather than linking zef_core, so the rest of a fuzz build (the
# plug-in library, the other tests) links without the fuzzer runtime.
# Bounds-checked std::array: an overrun from one body buffer into the next
# stays inside ParserState, where AddressSanitizer cannot see it.
zef_fuzz_target(fuzz_parser
    CODE ${PROJECT_SOURCE_DIR}/src/main_thread/frame_parser.cpp
        ${PROJECT_SOURCE_DIR}/src/plugin/device_state.cpp
        ${PROJECT_SOURCE_DIR}/src/usb_func/device_session.cpp
        ${PROJECT_SOURCE_DIR}/src/usb_func/driver_lock.cpp
    HARNESS fuzz_parser.cpp
    LIBS zef_platform zef_contract_headers
    DEFINITIONS _GLIBCXX_ASSERTIONS
    EDGES_ONLY)

# Writes the hand-built seeds of tests/fuzz/corpus_parser (real frames from
# sim/device_frames.h); run it by hand after changing them.
add_executable(write_fuzz_seeds EXCLUDE_FROM_ALL write_fuzz_seeds.cpp)
target_include_directories(write_fuzz_seeds PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
zef_warnings(write_fuzz_seeds)
