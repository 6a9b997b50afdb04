# Compiler and linker settings shared by every target.

# Product code: warnings are errors, no exceptions, no RTTI.
function(tavenor_product_flags target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /EHs-c- /GR- /permissive-)
        target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS _HAS_EXCEPTIONS=0)
    else()
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Werror -Wshadow -Wformat=2 -Wundef
            $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
            -ffunction-sections
            -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
    endif()
endfunction()

# Test code keeps exceptions (the test framework uses them) but not the
# warnings' leniency.
function(tavenor_test_flags target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX)
        target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    endif()
    tavenor_executable_flags(${target})
endfunction()

# Static runtime: nothing but system DLLs beside the executable.
function(tavenor_executable_flags target)
    if(MSVC)
        set_property(TARGET ${target} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
        target_link_options(${target} PRIVATE /MANIFEST:NO)
    else()
        # No time stamp in the PE header: the same sources give the same bytes.
        target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
            -Wl,--gc-sections -Wl,--no-insert-timestamp $<$<CONFIG:Release,MinSizeRel>:-s>)
    endif()
endfunction()
