# Delay-loading: a DLL named here is loaded on the first call into it instead of at
# start-up. Under Wine, loading user32 and comctl32 costs more than the rest of a log-mode
# run, and log mode never calls them.
find_program(QUORV_DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)
find_program(QUORV_NM NAMES i686-w64-mingw32-nm REQUIRED)

# quorv_delay_load(TARGET DLL...): links TARGET against delay-load import libraries of the
# DLLs (given without ".dll"), ahead of their ordinary import libraries.
function(quorv_delay_load target)
    foreach(dll ${ARGN})
        find_library(QUORV_IMPORT_LIBRARY_${dll} NAMES ${dll} REQUIRED)
        set(output ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
        add_custom_command(OUTPUT ${output}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayload
            COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.sh ${QUORV_NM}
                    ${QUORV_DLLTOOL} ${QUORV_IMPORT_LIBRARY_${dll}} ${dll}.dll ${output}
            DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.sh
            COMMENT "Making the delay-load import library of ${dll}.dll")
        add_custom_target(${dll}_delay_import DEPENDS ${output})
        add_dependencies(${target} ${dll}_delay_import)
        target_link_libraries(${target} PRIVATE ${output})
    endforeach()
endfunction()
