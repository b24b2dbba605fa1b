# Manual pages of the programs on the PATH, made from their --help and
# --version by help2man and installed with them. A build without help2man goes
# on without the pages unless ZEF_MAN_PAGES is ON, as scripts/release sets it.
set(ZEF_MAN_PAGES AUTO CACHE STRING "Manual pages from the programs' --help (AUTO, ON, OFF)")
set_property(CACHE ZEF_MAN_PAGES PROPERTY STRINGS AUTO ON OFF)
# A sanitized build is for testing, never installed: no pages to make there.
if(ZEF_MAN_PAGES STREQUAL "OFF" OR CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    return()
endif()
find_program(ZEF_HELP2MAN help2man)
find_program(ZEF_GZIP gzip)
if(NOT ZEF_HELP2MAN OR NOT ZEF_GZIP)
    if(ZEF_MAN_PAGES STREQUAL "ON")
        message(FATAL_ERROR "ZEF_MAN_PAGES is ON but help2man or gzip is missing "
            "(scripts/install-deps installs them)")
    endif()
    message(STATUS "help2man not found: no manual pages")
    return()
endif()

# zef_man_page(TARGET "what it does"): TARGET.1.gz in section 1.
function(zef_man_page target summary)
    if(NOT TARGET ${target})
        return()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
    # help2man dates the page from SOURCE_DATE_EPOCH when it is set; gzip -n
    # leaves out the name and time.
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${ZEF_HELP2MAN} --no-info --name=${summary} --output=${page}
            $<TARGET_FILE:${target}>
        COMMAND ${ZEF_GZIP} -9nf ${page}
        DEPENDS ${target}
        COMMENT "Manual page of ${target}"
        VERBATIM)
    add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endfunction()

zef_man_page(zef-host "record I/Q samples from an ExtIO plug-in")
zef_man_page(zef-gateware "show and replace the gateware inside a built ExtIO_Zef plug-in")
