# What Debian wants in /usr/share/doc/PACKAGE of every package: the licence
# as a machine-readable copyright file, made from LICENSE, and the Debian
# changelog (packaging/debian/changelog), compressed. The changelog's latest
# entry names the release's version and its maintainer. Beside them, the
# lintian overrides, each with the reason for it
# (packaging/debian/lintian-overrides).
#
# zef_debian_docs(PACKAGE COMPONENT) installs them for one package.
set(zef_changelog ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${zef_changelog} ${PROJECT_SOURCE_DIR}/LICENSE)

file(STRINGS ${zef_changelog} zef_changelog_lines)
list(GET zef_changelog_lines 0 zef_changelog_head)
string(REGEX MATCH "\\(([^)]+)\\)" _ "${zef_changelog_head}")
set(ZEF_DEB_VERSION ${CMAKE_MATCH_1})
if(NOT ZEF_DEB_VERSION MATCHES "^${PROJECT_VERSION}-([0-9]+)$")
    message(FATAL_ERROR "packaging/debian/changelog begins with ${ZEF_DEB_VERSION}; "
        "give version ${PROJECT_VERSION} an entry there")
endif()
set(ZEF_DEB_RELEASE ${CMAKE_MATCH_1})
foreach(line IN LISTS zef_changelog_lines)
    if(line MATCHES "^ -- (.+ <[^>]+>)  ")
        set(ZEF_DEB_MAINTAINER ${CMAKE_MATCH_1})
        break()
    endif()
endforeach()

file(READ ${PROJECT_SOURCE_DIR}/LICENSE zef_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" _ "${zef_license}")
set(zef_copyright_holder ${CMAKE_MATCH_1})
string(FIND "${zef_license}" "Permission is hereby granted" zef_notice_start)
string(SUBSTRING "${zef_license}" ${zef_notice_start} -1 zef_notice)
string(STRIP "${zef_notice}" zef_notice)
# Continuation lines begin with a space; an empty one is " .".
string(REGEX REPLACE "\n\n" "\n.\n" zef_notice "${zef_notice}")
string(REPLACE "\n" "\n " zef_notice "${zef_notice}")
set(zef_debian_docs ${CMAKE_BINARY_DIR}/debian-docs)
file(WRITE ${zef_debian_docs}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ExtIO_Zef

Files: *
Copyright: ${zef_copyright_holder}
License: Expat

License: Expat
 ${zef_notice}
")

find_program(ZEF_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${zef_debian_docs}/changelog.Debian.gz
    COMMAND ${ZEF_GZIP} -9nc ${zef_changelog} > ${zef_debian_docs}/changelog.Debian.gz
    DEPENDS ${zef_changelog}
    VERBATIM)
add_custom_target(zef_debian_changelog ALL DEPENDS ${zef_debian_docs}/changelog.Debian.gz)

function(zef_debian_docs package component)
    install(FILES ${zef_debian_docs}/copyright ${zef_debian_docs}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides RENAME ${package}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component})
endfunction()
