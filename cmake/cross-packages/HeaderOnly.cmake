# For a cross build: a header-only library installed for the build machine (CLI11, nlohmann-json), made
# usable without putting the build machine's whole include folder (with its C library) on the path: only
# the library's own folder is linked into a private include folder of the build.
set(TESSOR_HOST_INCLUDE /usr/include CACHE PATH "Include folder of the header-only libraries of the build machine")

function(tessor_header_only_target target folder)
    if(TARGET ${target})
        return()
    endif()
    if(NOT EXISTS "${TESSOR_HOST_INCLUDE}/${folder}")
        message(FATAL_ERROR "${TESSOR_HOST_INCLUDE}/${folder} not found (install the library's -dev package)")
    endif()
    set(private "${CMAKE_BINARY_DIR}/host-headers")
    file(MAKE_DIRECTORY "${private}")
    if(NOT EXISTS "${private}/${folder}")
        file(CREATE_LINK "${TESSOR_HOST_INCLUDE}/${folder}" "${private}/${folder}" SYMBOLIC)
    endif()
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${private}")
endfunction()
