# The launcher that starts every test program under Wine must never hide a
# failure: it passes each status through, and starts a program once more only
# when Wine ended it unheard, then with Wine's own error messages on.
# cmake -DEMULATOR=<launcher;wine> -DUNHEARD=<program Wine cannot load> -P
set(log "${CMAKE_CURRENT_BINARY_DIR}/wine-launcher-test.log")
file(REMOVE "${log}")
set(ENV{ZEF_WINE_RESTARTS_LOG} "${log}")
set(ENV{WINEDEBUG} "-all")
set(failures "")

function(expect what command status out_pattern err_pattern restarts)
    execute_process(COMMAND ${EMULATOR} ${command}
        RESULT_VARIABLE got OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(logged 0)
    if(EXISTS "${log}")
        file(STRINGS "${log}" lines)
        list(LENGTH lines logged)
        file(REMOVE "${log}")
    endif()
    if(NOT got STREQUAL status OR NOT out MATCHES "${out_pattern}"
            OR NOT err MATCHES "${err_pattern}" OR NOT logged EQUAL restarts)
        string(APPEND failures "\n${what}: status ${got} (want ${status}), "
            "${logged} restarts noted (want ${restarts})\n  out: ${out}\n  err: ${err}")
        set(failures "${failures}" PARENT_SCOPE)
    endif()
endfunction()

expect("a failure with output is the test's" "cmd;/c;echo said & exit 4" 4 "said" "^$" 0)
expect("a silent success stays a success" "cmd;/c;exit 0" 0 "^$" "^$" 0)
expect("a silent failure runs once more, and only once" "cmd;/c;exit 3" 3 "^$"
    "ended with status 3 after [0-9]+ ms, before printing anything" 1)
expect("the second run shows why Wine could not start it" "${UNHEARD};--gtest_list_tests"
    53 "^$" "import_dll Library ftd2xx.dll .* not found" 1)

if(failures)
    message(FATAL_ERROR "${failures}")
endif()
