# qarn_cross_header_only(<target> <folder>...): an imported target for a header-only library of the
# host, for the cross compiler. Each folder of /usr/include is linked into one include folder of the
# build tree, so that the target exposes only those folders and not all of /usr/include.
function(qarn_cross_header_only target)
    if(TARGET ${target})
        return()
    endif()
    set(root ${CMAKE_BINARY_DIR}/cross-include)
    foreach(folder IN LISTS ARGN)
        if(NOT EXISTS /usr/include/${folder})
            message(FATAL_ERROR "${target}: /usr/include/${folder} is missing (scripts/bootstrap)")
        endif()
        if(NOT EXISTS ${root}/${folder})
            get_filename_component(parent ${root}/${folder} DIRECTORY)
            file(MAKE_DIRECTORY ${parent})
            file(CREATE_LINK /usr/include/${folder} ${root}/${folder} SYMBOLIC)
        endif()
    endforeach()
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${root}
                                               INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${root})
endfunction()
