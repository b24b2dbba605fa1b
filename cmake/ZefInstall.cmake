# What `cmake --install` puts on a Linux machine, and the Debian packages
# that CPack makes of it (scripts/release):
#   zef-d2xx                the open D2XX driver libzefd2xx in the private
#                           folder (zef/zefd2xx, where the module, zef-host,
#                           its plug-in and the Wine bridge look for it beside
#                           themselves), and the udev rule that lets the user
#                           open the instrument
#   soapysdr0.8-module-zef  the SoapySDR module, where SoapySDR looks for it
#   zef-tools               zef-gateware and zef-host on the PATH; zef-host's
#                           plug-in and simulated drivers in a private folder,
#                           laid out as in the build tree, where zef-host
#                           finds them beside itself
#   zef-wine-bridge         lin_ftd2xx.dll for Windows programs under Wine, in
#                           Wine's own folders: the module in <arch>-unix, its
#                           stub in <arch>-windows, which Wine copies into
#                           every prefix it makes or updates
# zef-d2xx and zef-wine-bridge come for amd64 from this build and for i386
# from the linux32 preset's (which packages only them); scripts/release marks
# both Multi-Arch: same, so the two halves install side by side.
# Every package carries the licence as its copyright file and the Debian
# changelog (cmake/ZefDebianDocs.cmake); zef-tools also the manual pages
# (cmake/ZefManPages.cmake).
if(WIN32 OR CMAKE_CROSSCOMPILING)
    return()
endif()
include(GNUInstallDirs)

set(zef_private ${CMAKE_INSTALL_LIBDIR}/zef)
set(zef_doc ${CMAKE_INSTALL_DATADIR}/doc)
# The 32-bit build packages only what 32-bit Windows programs under Wine load.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(zef_components d2xx winebridge)
else()
    set(zef_components d2xx soapy tools winebridge)
endif()

if(TARGET zefd2xx)
    install(TARGETS zefd2xx LIBRARY DESTINATION ${zef_private}/zefd2xx COMPONENT d2xx)
    # Not CMAKE_INSTALL_LIBDIR: udev reads <prefix>/lib/udev/rules.d.
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-zef418.rules
        DESTINATION lib/udev/rules.d COMPONENT d2xx)
endif()

# Wine's own folders for this word size, where it looks without WINEDLLPATH.
if(TARGET lin_ftd2xx)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(zef_wine_arch i386)
    else()
        set(zef_wine_arch x86_64)
    endif()
    set(zef_wine_unix ${CMAKE_INSTALL_LIBDIR}/wine/${zef_wine_arch}-unix)
    install(FILES ${ZEF_WINE_BRIDGE_MODULE} DESTINATION ${zef_wine_unix} COMPONENT winebridge)
    # Only targets are stripped by an installing strip; the module is a file.
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND ${CMAKE_STRIP}
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${zef_wine_unix}/lin_ftd2xx.dll.so\")
        endif()" COMPONENT winebridge)
    install(FILES ${ZEF_WINE_BRIDGE_STUB}
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/wine/${zef_wine_arch}-windows COMPONENT winebridge)
endif()

if("tools" IN_LIST zef_components)
    if(TARGET zef-gateware)
        install(TARGETS zef-gateware RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    endif()
    if(TARGET zef-host)
        install(TARGETS zef-host RUNTIME DESTINATION ${zef_private}/bin COMPONENT tools)
        get_target_property(zef_plugin_dir ExtIO_Zef BINARY_DIR)
        file(RELATIVE_PATH zef_plugin_relative ${CMAKE_BINARY_DIR}/bin ${zef_plugin_dir})
        file(RELATIVE_PATH zef_sim_relative ${CMAKE_BINARY_DIR}/bin ${ZEF_SIM_OUTPUT_DIR})
        install(TARGETS ExtIO_Zef LIBRARY DESTINATION ${zef_private}/bin/${zef_plugin_relative}
            COMPONENT tools)
        foreach(flavour plain bridge)
            if(TARGET zefsim_${flavour})
                install(TARGETS zefsim_${flavour}
                    LIBRARY DESTINATION ${zef_private}/bin/${zef_sim_relative}/${flavour}
                    COMPONENT tools)
            endif()
        endforeach()
        # /usr/bin/zef-host: a link, so the program still finds its folder.
        file(RELATIVE_PATH zef_host_link_target ${CMAKE_INSTALL_FULL_BINDIR}
            ${CMAKE_INSTALL_PREFIX}/${zef_private}/bin/zef-host)
        file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/zef-host-link)
        file(CREATE_LINK ${zef_host_link_target}
            ${CMAKE_CURRENT_BINARY_DIR}/zef-host-link/zef-host SYMBOLIC)
        install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zef-host-link/zef-host
            DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/sim/zefsim.conf DESTINATION ${zef_doc}/zef-tools
        COMPONENT tools)
    include(${CMAKE_CURRENT_LIST_DIR}/ZefManPages.cmake)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/ZefDebianDocs.cmake)

set(zef_deb_d2xx zef-d2xx)
set(zef_deb_soapy soapysdr0.8-module-zef)
set(zef_deb_tools zef-tools)
set(zef_deb_winebridge zef-wine-bridge)
foreach(component ${zef_components})
    zef_debian_docs(${zef_deb_${component}} ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME extio-zef)
set(CPACK_PACKAGE_VENDOR "The ExtIO_Zef developers")
set(CPACK_PACKAGE_CONTACT "${ZEF_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZEF_DEB_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL ${zef_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZEF_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
    set(zef_wine_package wine32)
else()
    set(zef_wine_package wine64)
endif()
set(zef_deb_version ${PROJECT_VERSION}-${ZEF_DEB_RELEASE})

set(CPACK_DEBIAN_D2XX_PACKAGE_NAME ${zef_deb_d2xx})
set(CPACK_COMPONENT_D2XX_DESCRIPTION "Open D2XX driver and udev rule for the ZEF418 receiver
libzefd2xx is a D2XX-compatible driver library on libftdi1 and libusb, in a
private folder, for the programs of the other ZEF418 packages: the SoapySDR
module, zef-host and the Wine bridge. FTDI's own libftd2xx.so is used
instead when it is installed. The udev rule lets the logged-in user and the
plugdev group open the instrument; the driver takes it from ftdi_sio itself.")

set(CPACK_DEBIAN_WINEBRIDGE_PACKAGE_NAME ${zef_deb_winebridge})
set(CPACK_DEBIAN_WINEBRIDGE_PACKAGE_DEPENDS
    "${zef_deb_d2xx} (= ${zef_deb_version}), ${zef_wine_package} (>= 8.0~)")
set(CPACK_COMPONENT_WINEBRIDGE_DESCRIPTION "Wine bridge for the ZEF418 ExtIO plug-in (lin_ftd2xx.dll)
Lets ExtIO_Zef.dll in HDSDR, SDR# and other Windows SDR programs under Wine
reach the ZEF418 through a Linux D2XX driver: the open libzefd2xx of
zef-d2xx, or FTDI's libftd2xx.so when it is installed. A Wine built-in DLL
for the word size of this package (i386 for 32-bit programs, amd64 for
64-bit ones). It lists only the ZEF418 to the plug-in, never another FTDI
adapter. Wine puts it into every prefix it creates; run wineboot -u once in
an existing prefix.")

set(CPACK_DEBIAN_SOAPY_PACKAGE_NAME ${zef_deb_soapy})
set(CPACK_DEBIAN_SOAPY_PACKAGE_DEPENDS "${zef_deb_d2xx} (= ${zef_deb_version})")
set(CPACK_DEBIAN_SOAPY_PACKAGE_PROVIDES soapysdr0.8-module)
set(CPACK_DEBIAN_SOAPY_PACKAGE_SUGGESTS ${zef_deb_tools})
set(CPACK_COMPONENT_SOAPY_DESCRIPTION "SoapySDR module for the ZEF418 receiver
Makes the ZEF418 USB instrument a SoapySDR device (driver key zef) for GQRX,
CubicSDR, SDR++, GNU Radio and SoapySDRUtil. Its open D2XX driver and udev
rule come with zef-d2xx, so after a replug it works with no other step;
FTDI's libftd2xx.so is used instead when it is installed. zef-tools has a
simulated instrument for trying it without one.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${zef_deb_tools})
# zef-host's plug-in reaches the real instrument through the open driver and
# the udev rule of zef-d2xx (or through FTDI's library).
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS ${zef_deb_d2xx})
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "ZEF418 tools: gateware embedding, I/Q recorder, simulator
zef-gateware shows and replaces the FPGA image inside a built ExtIO_Zef
plug-in (DLL or shared library) or SoapySDR module. zef-host records I/Q
from the ZEF418 through its ExtIO plug-in, on the open D2XX driver of
zef-d2xx or on FTDI's library. The simulated D2XX library in
/usr/lib/<triplet>/zef/sim/plain behaves like the instrument.")
include(CPack)
