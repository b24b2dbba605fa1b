# The parser's fuzz target. It compiles its own instrumented copy of the
# parser core rather than linking zef_core, so the rest of a fuzz build (the
# plug-in library, the other tests) links without the fuzzer runtime.
set(zef_parser_core_sources
    ${PROJECT_SOURCE_DIR}/src/main_thread/frame_parser.cpp
    ${PROJECT_SOURCE_DIR}/src/plugin/device_state.cpp)

add_executable(fuzz_parser fuzz_parser.cpp ${zef_parser_core_sources})
target_include_directories(fuzz_parser PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(fuzz_parser PRIVATE zef_platform zef_contract_headers)
# Bounds-checked std::array: an overrun from one body buffer into the next
# stays inside ParserState, where AddressSanitizer cannot see it.
target_compile_options(fuzz_parser PRIVATE -fsanitize=fuzzer,address,undefined
    -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
target_compile_definitions(fuzz_parser PRIVATE _GLIBCXX_ASSERTIONS)
target_link_options(fuzz_parser PRIVATE -fsanitize=fuzzer,address,undefined)
zef_warnings(fuzz_parser)

add_executable(write_fuzz_seeds write_fuzz_seeds.cpp)
target_include_directories(write_fuzz_seeds PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
zef_warnings(write_fuzz_seeds)

set(seed_dir ${CMAKE_CURRENT_BINARY_DIR}/corpus)
add_custom_command(OUTPUT ${seed_dir}/mixed
    COMMAND ${CMAKE_COMMAND} -E make_directory ${seed_dir}
    COMMAND write_fuzz_seeds ${seed_dir}
    DEPENDS write_fuzz_seeds
    COMMENT "Writing the parser fuzzer's seed corpus")
add_custom_target(fuzz_parser_seeds ALL DEPENDS ${seed_dir}/mixed)
add_dependencies(fuzz_parser fuzz_parser_seeds)

# Short run in the test suite: new inputs go to a scratch folder, the seeds
# stay as written.
set(scratch_dir ${CMAKE_CURRENT_BINARY_DIR}/fuzz_scratch)
file(MAKE_DIRECTORY ${scratch_dir})
add_test(NAME parser_fuzz_short
    COMMAND fuzz_parser -max_total_time=20 -max_len=12000 -timeout=10
        -dict=${CMAKE_CURRENT_SOURCE_DIR}/fuzz_parser.dict
        -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/ ${scratch_dir} ${seed_dir}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(parser_fuzz_short PROPERTIES TIMEOUT 120)
