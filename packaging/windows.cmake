# The Windows build: a zip of tessor-cli.exe with its manual page as text and the README's Windows
# section, made by `cmake --build <dir> --target windows-zip`. Included by the top-level CMakeLists.txt
# instead of install.cmake when the build targets Windows.

get_filename_component(TESSOR_PACKAGING_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

set(TESSOR_CLI_MANPAGE "${TESSOR_PACKAGING_ROOT}/docs/man/tessor-cli.1")
find_program(TESSOR_GROFF groff)

set(_zip_name "tessor-cli-${PROJECT_VERSION}-windows-x64")
add_custom_target(windows-zip
    COMMAND ${CMAKE_COMMAND}
            -DEXE=$<TARGET_FILE:tessor-cli>
            -DMANPAGE=${TESSOR_CLI_MANPAGE}
            -DGROFF=${TESSOR_GROFF}
            -DREADME=${TESSOR_PACKAGING_ROOT}/README.md
            -DSTAGE=${CMAKE_BINARY_DIR}/${_zip_name}
            -DZIP=${CMAKE_BINARY_DIR}/${_zip_name}.zip
            -P ${TESSOR_PACKAGING_ROOT}/packaging/windows-zip.cmake
    DEPENDS tessor-cli
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Packing ${_zip_name}.zip"
    VERBATIM)
