# Compiler and linker flags in one place.

# quorv_find_tool(VARIABLE PACKAGE NAME...): finds a program, or stops the configuration
# with the Debian package to install.
function(quorv_find_tool variable package)
    find_program(${variable} NAMES ${ARGN})
    if(NOT ${variable})
        list(GET ARGN 0 name)
        message(FATAL_ERROR "${name} not found: install the Debian package ${package}"
                            " (scripts/setup.sh does)")
    endif()
endfunction()

# Product code: every warning is an error.
set(QUORV_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror)

if(WIN32)
    # Plain Win32 ANSI calls, Windows 7 and later, no exceptions or RTTI in the product.
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
    # Small: optimise for size, drop unwind tables and unused functions, link the runtime
    # statically so only system DLLs are imported, strip symbols. No -fdata-sections: with
    # it MinGW stores zero-filled buffers as data in the file instead of in .bss.
    # Reproducible: a PE time stamp of 0 instead of the time of the link (and no build id,
    # which lld does not write), so one commit always gives the same bytes (scripts/test.sh
    # compares two builds).
    set(QUORV_PRODUCT_COMPILE_OPTIONS
        -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
        -ffunction-sections)
    set(QUORV_PRODUCT_LINK_OPTIONS
        -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp)
    # Test programs under Wine also link statically, so they need no MinGW DLLs.
    set(QUORV_TEST_LINK_OPTIONS -static)
    # Every program is linked by lld, which delay-loads DLLs by itself (delay_load.cmake).
    # Debian's cross GCC ignores -fuse-ld=lld and quietly keeps GNU ld; a specs file that
    # names the linker makes GCC run lld, and fail when it is not there.
    quorv_find_tool(QUORV_LLD lld ld.lld ld.lld-19 ld.lld-14)
    file(WRITE ${CMAKE_BINARY_DIR}/lld.specs "*linker:\n${QUORV_LLD}\n")
    add_link_options(-specs=${CMAKE_BINARY_DIR}/lld.specs)
else()
    # Native tests of the pure logic run with AddressSanitizer and UBSan; any report fails.
    set(QUORV_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
                         -fno-omit-frame-pointer)
    add_compile_options(-g ${QUORV_SANITIZERS})
    add_link_options(${QUORV_SANITIZERS})
endif()
