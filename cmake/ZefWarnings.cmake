# Strict warnings for the project's own targets only.
function(zef_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
            -Wconversion -Wsign-conversion -Wnon-virtual-dtor -Wold-style-cast)
        if(ZEF_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
endfunction()
