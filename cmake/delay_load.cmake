# Delay-loading: a DLL named here is loaded on the first call into it instead of at
# start-up, so each mode loads only what it uses. Under Wine, loading user32 and comctl32
# costs more than the rest of a log-mode run, and the dialog never calls iphlpapi.
#
# lld does it (--delayload), but only through short import libraries: it silently leaves
# the long-format ones Debian's MinGW ships as ordinary imports. So each DLL gets one from
# llvm-dlltool, linked ahead of the ordinary one. The thunks' helper comes from libmingwex.
quorv_find_tool(QUORV_NM binutils-mingw-w64-i686 i686-w64-mingw32-nm)
quorv_find_tool(QUORV_LLVM_DLLTOOL llvm llvm-dlltool llvm-dlltool-19 llvm-dlltool-14)

# quorv_delay_load(TARGET DLL...): TARGET loads the DLLs (given without ".dll") on first use.
function(quorv_delay_load target)
    foreach(dll ${ARGN})
        set(library ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
        if(NOT TARGET quorv_delay_${dll})
            find_library(QUORV_IMPORT_LIBRARY_${dll} NAMES ${dll})
            if(NOT QUORV_IMPORT_LIBRARY_${dll})
                message(FATAL_ERROR "MinGW's import library lib${dll}.a not found: install the"
                                    " Debian package mingw-w64-i686-dev (scripts/setup.sh does)")
            endif()
            add_custom_command(OUTPUT ${library}
                COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.sh ${QUORV_NM}
                        ${QUORV_LLVM_DLLTOOL} ${QUORV_IMPORT_LIBRARY_${dll}} ${dll}.dll ${library}
                DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.sh
                        ${QUORV_IMPORT_LIBRARY_${dll}} ${QUORV_NM} ${QUORV_LLVM_DLLTOOL}
                COMMENT "Making the short import library of ${dll}.dll")
            add_custom_target(quorv_delay_${dll} DEPENDS ${library})
        endif()
        add_dependencies(${target} quorv_delay_${dll})
        target_link_libraries(${target} PRIVATE ${library})
        target_link_options(${target} PRIVATE -Wl,--delayload=${dll}.dll)
    endforeach()
endfunction()
