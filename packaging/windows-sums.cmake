# Script mode (cmake -P), run by the windows-release target: writes SHA256SUMS beside the release files, one
# line each in the form `sha256sum -c` reads ("<hash>  <name>"), with Unix line ends.
# Variables: FILES (the release files, all in one folder), OUT (the SHA256SUMS to write).

if(NOT FILES OR NOT OUT)
    message(FATAL_ERROR "windows-sums: FILES and OUT must be set")
endif()
set(sums "")
foreach(file IN LISTS FILES)
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "windows-sums: ${file} is missing")
    endif()
    file(SHA256 "${file}" hash)
    get_filename_component(name "${file}" NAME)
    string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${OUT}" "${sums}")
message(STATUS "windows-sums: ${OUT}")
