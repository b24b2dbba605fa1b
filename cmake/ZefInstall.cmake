# What `cmake --install` puts on a Linux machine, and the Debian packages
# that CPack makes of it (scripts/release):
#   soapysdr0.8-module-zef  the SoapySDR module, where SoapySDR looks for it;
#                           the open D2XX driver libzefd2xx in the private
#                           folder (zef/zefd2xx, where the module, zef-host
#                           and its plug-in look for it beside themselves);
#                           the udev rule that lets the user open the
#                           instrument
#   zef-tools               zef-gateware and zef-host on the PATH; zef-host's
#                           plug-in and simulated drivers in a private folder,
#                           laid out as in the build tree, where zef-host
#                           finds them beside itself
# Every package carries the licence as its copyright file and the Debian
# changelog (cmake/ZefDebianDocs.cmake); zef-tools also the manual pages
# (cmake/ZefManPages.cmake).
if(WIN32 OR CMAKE_CROSSCOMPILING)
    return()
endif()
include(GNUInstallDirs)

set(zef_private ${CMAKE_INSTALL_LIBDIR}/zef)
set(zef_doc ${CMAKE_INSTALL_DATADIR}/doc)

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
    file(CREATE_LINK ${zef_host_link_target} ${CMAKE_CURRENT_BINARY_DIR}/zef-host-link/zef-host
        SYMBOLIC)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zef-host-link/zef-host
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/sim/zefsim.conf DESTINATION ${zef_doc}/zef-tools
    COMPONENT tools)
include(${CMAKE_CURRENT_LIST_DIR}/ZefManPages.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/ZefDebianDocs.cmake)

if(TARGET zefd2xx)
    install(TARGETS zefd2xx LIBRARY DESTINATION ${zef_private}/zefd2xx COMPONENT soapy)
    # Not CMAKE_INSTALL_LIBDIR: udev reads <prefix>/lib/udev/rules.d.
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-zef418.rules
        DESTINATION lib/udev/rules.d COMPONENT soapy)
endif()

set(zef_deb_soapy soapysdr0.8-module-zef)
set(zef_deb_tools zef-tools)
foreach(component soapy tools)
    zef_debian_docs(${zef_deb_${component}} ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME extio-zef)
set(CPACK_PACKAGE_VENDOR "The ExtIO_Zef developers")
set(CPACK_PACKAGE_CONTACT "${ZEF_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZEF_DEB_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL soapy tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZEF_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_SOAPY_PACKAGE_NAME ${zef_deb_soapy})
set(CPACK_DEBIAN_SOAPY_PACKAGE_PROVIDES soapysdr0.8-module)
set(CPACK_DEBIAN_SOAPY_PACKAGE_SUGGESTS ${zef_deb_tools})
set(CPACK_COMPONENT_SOAPY_DESCRIPTION "SoapySDR module for the ZEF418 receiver
Makes the ZEF418 USB instrument a SoapySDR device (driver key zef) for GQRX,
CubicSDR, SDR++, GNU Radio and SoapySDRUtil. It brings its own open D2XX
driver on libftdi1 and a udev rule for the instrument, so after a replug it
works with no other step; FTDI's libftd2xx.so is used instead when it is
installed. zef-tools has a simulated instrument for trying it without one.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${zef_deb_tools})
# zef-host's plug-in reaches the real instrument through the open driver and
# the udev rule of the module's package (or through FTDI's library).
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS ${zef_deb_soapy})
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "ZEF418 tools: gateware embedding, I/Q recorder, simulator
zef-gateware shows and replaces the FPGA image inside a built ExtIO_Zef
plug-in (DLL or shared library) or SoapySDR module. zef-host records I/Q
from the ZEF418 through its ExtIO plug-in, on the open D2XX driver of
soapysdr0.8-module-zef or on FTDI's library. The simulated D2XX library in
/usr/lib/<triplet>/zef/sim/plain behaves like the instrument.")
include(CPack)
