# Delay-loading: a DLL named here is loaded on the first call into it instead of at
# start-up, so each mode loads only what it uses. Under Wine, loading user32 and comctl32
# costs more than the rest of a log-mode run, and the dialog never calls iphlpapi.
find_program(QUORV_DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)
find_program(QUORV_NM NAMES i686-w64-mingw32-nm REQUIRED)

# quorv_delay_load(TARGET LIBRARY DLL...): links TARGET against delay-load import libraries
# of the DLLs (given without ".dll"), ahead of their ordinary import libraries. LIBRARY is
# the static library whose calls into the DLLs are to be delayed.
function(quorv_delay_load target library)
    set(directory ${CMAKE_BINARY_DIR}/delayload)
    set(definitions)
    foreach(dll ${ARGN})
        find_library(QUORV_IMPORT_LIBRARY_${dll} NAMES ${dll} REQUIRED)
        set(output ${directory}/lib${dll}_delay.a)
        add_custom_command(OUTPUT ${output} ${output}.def
            COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}
            COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.sh ${QUORV_NM}
                    ${QUORV_DLLTOOL} ${QUORV_IMPORT_LIBRARY_${dll}} ${dll}.dll ${output}
            DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.sh
            COMMENT "Making the delay-load import library of ${dll}.dll")
        target_link_libraries(${target} PRIVATE ${output})
        list(APPEND definitions ${output}.def)
    endforeach()

    set(keep ${directory}/${target}_keep.rsp)
    add_custom_command(OUTPUT ${keep}
        COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/delay_keep_list.sh ${QUORV_NM}
                $<TARGET_FILE:${library}> ${definitions} > ${keep}
        DEPENDS ${library} ${definitions} ${PROJECT_SOURCE_DIR}/cmake/delay_keep_list.sh
        COMMENT "Listing the delay-load thunks ${target} calls")
    add_custom_target(${target}_delay_load DEPENDS ${keep})
    add_dependencies(${target} ${target}_delay_load)
    target_link_options(${target} PRIVATE @${keep})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${keep})
endfunction()
