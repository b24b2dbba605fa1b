# Windows specifics of the plug-in and of the simulated driver libraries.

set(ZEF_WINDOWS_PLUGIN_DIR ${CMAKE_CURRENT_LIST_DIR}/../src/plugin)

# Reproducible files: no link time stamp in the PE header, and no build paths
# (from __FILE__ or debug records) inside.
if(NOT MSVC)
    add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
        -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
    add_link_options(-Wl,--no-insert-timestamp)
endif()

# zef_windows_plugin(target): ExtIO_Zef.dll as hosts expect it: the sixteen
# __stdcall exports under their plain names (the .def file, and the fix-up
# that maps `InitHW` to the 32-bit `_InitHW@12`), the version record, and the
# entry routine.
function(zef_windows_plugin target)
    target_sources(${target} PRIVATE
        ${ZEF_WINDOWS_PLUGIN_DIR}/dll_main.cpp
        ${ZEF_WINDOWS_PLUGIN_DIR}/version.rc
        ${ZEF_WINDOWS_PLUGIN_DIR}/ExtIO_Zef.def)
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup -Wl,--kill-at)
    set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".dll")
endfunction()

# zef_windows_undecorated_exports(target): a DLL whose __stdcall exports are
# found by their plain names on 32-bit Windows too (`FT_Open`, not
# `FT_Open@8`), as GetProcAddress callers of FTDI's driver expect. The
# decorated names stay as aliases, so programs can still link the DLL's import
# library with the usual declarations.
function(zef_windows_undecorated_exports target)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT MSVC)
        target_link_options(${target} PRIVATE -Wl,--add-stdcall-alias)
    endif()
endfunction()
