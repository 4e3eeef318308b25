# Delay-loading: a DLL named here is loaded on the first call into it instead of at
# start-up, so each mode loads only what it uses. Under Wine, loading user32 and comctl32
# costs more than the rest of a log-mode run, and the dialog never calls iphlpapi.
#
# The trap: a member of a delay-load import library holds, in one code section, both the
# plain jump stub `_Name@N` and the thunk that loads the DLL, and its import slot
# `__imp__Name@N` starts out pointing at that thunk. ld (binutils 2.40, with or without
# --gc-sections) throws away an import library's code section when nothing refers to the
# stub's name, which is the case for every call the headers declare dllimport, so the slot
# is left at 0 and the call crashes. Naming each called function with -u keeps its thunk;
# the names come from every object the linker reads for the program's own code, and a check
# after the link fails the build on any slot that still points nowhere.
find_program(QUORV_DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)
find_program(QUORV_NM NAMES i686-w64-mingw32-nm REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The object files and static libraries CMake hands the linker for TARGET: its own objects,
# and those of the targets and library files it links, transitively. Puts them in OUT.
function(quorv_link_inputs target out)
    set(inputs $<TARGET_OBJECTS:${target}>)
    set(pending ${target})
    set(seen)
    while(pending)
        list(POP_FRONT pending current)
        get_target_property(links ${current} LINK_LIBRARIES)
        foreach(item IN LISTS links)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
            if(item IN_LIST seen)
                continue()
            endif()
            list(APPEND seen ${item})
            if(TARGET ${item})
                get_target_property(type ${item} TYPE)
                if(type STREQUAL "STATIC_LIBRARY")
                    list(APPEND inputs $<TARGET_FILE:${item}>)
                    list(APPEND pending ${item})
                elseif(type STREQUAL "OBJECT_LIBRARY")
                    list(APPEND inputs $<TARGET_OBJECTS:${item}>)
                    list(APPEND pending ${item})
                endif()
            elseif(IS_ABSOLUTE "${item}" AND item MATCHES "\\.(a|o|obj)$")
                list(APPEND inputs ${item})
            endif()
        endforeach()
    endwhile()
    set(${out} ${inputs} PARENT_SCOPE)
endfunction()

# quorv_delay_load(TARGET DLL...): links TARGET against delay-load import libraries of the
# DLLs (given without ".dll"), ahead of their ordinary import libraries. Call it after
# TARGET's target_link_libraries; code the linker gets some other way (link options, -l
# names) is not searched for calls, and the check after the link says so if that matters.
function(quorv_delay_load target)
    set(directory ${CMAKE_BINARY_DIR}/delayload)
    set(libraries)
    set(definitions)
    foreach(dll ${ARGN})
        set(library ${directory}/lib${dll}_delay.a)
        if(NOT TARGET quorv_delay_${dll})
            find_library(QUORV_IMPORT_LIBRARY_${dll} NAMES ${dll} REQUIRED)
            add_custom_command(OUTPUT ${library} ${library}.def
                COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}
                COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.sh ${QUORV_NM}
                        ${QUORV_DLLTOOL} ${QUORV_IMPORT_LIBRARY_${dll}} ${dll}.dll ${library}
                DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.sh
                COMMENT "Making the delay-load import library of ${dll}.dll")
            add_custom_target(quorv_delay_${dll} DEPENDS ${library})
        endif()
        add_dependencies(${target} quorv_delay_${dll})
        target_link_libraries(${target} PRIVATE ${library})
        list(APPEND libraries ${library})
        list(APPEND definitions ${library}.def)
    endforeach()

    # Made right before each link, when every object and library of the program is built.
    quorv_link_inputs(${target} inputs)
    list(REMOVE_ITEM inputs ${libraries})
    set(keep ${directory}/${target}_keep.rsp)
    set(map ${directory}/${target}.map)
    add_custom_command(TARGET ${target} PRE_LINK
        COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/delay_keep_list.sh ${QUORV_NM} ${keep}
                ${definitions} -- ${inputs}
        COMMAND_EXPAND_LISTS
        COMMENT "Listing the delay-load thunks ${target} calls")
    target_link_options(${target} PRIVATE @${keep} -Wl,-Map,${map})
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/check_delay_imports.py
                $<TARGET_FILE:${target}> ${map} ${keep} ${libraries}
        COMMENT "Checking that every delay-loaded call of ${target} reaches its thunk")
endfunction()
