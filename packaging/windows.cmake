# The Windows build's zip, made by `cmake --build <dir> --target windows-zip`: tessor-configurator.exe
# (when the window program is built) and tessor-cli.exe, the help pages beside them, the manual pages as
# text, the README's Windows section, the MIT licence, and the licence texts of what is linked in
# (libtelnet; Qt with where its source comes from, the shipped font). With the window program also the
# per-user installer of the same files (windows-installer, with makensis), and windows-release: both with
# their SHA256SUMS. The programs, the installer and its uninstaller are signed when TESSOR_SIGN_PKCS12 names
# a certificate (packaging/windows-sign.sh). Included by the top-level CMakeLists.txt instead of
# install.cmake when the build targets Windows.

get_filename_component(TESSOR_PACKAGING_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

if(NOT TARGET tessor-cli)
    message(STATUS "windows-zip: no tessor-cli target in this build, so no zip")
    return()
endif()

find_program(TESSOR_GROFF groff)

set(_zip_programs $<TARGET_FILE:tessor-cli>)
set(_zip_manuals ${TESSOR_PACKAGING_ROOT}/docs/man/tessor-cli.1)
# libtelnet, built into both programs for network consoles: its public-domain dedication.
set(_zip_licences "${TESSOR_PACKAGING_ROOT}/third_party/libtelnet/COPYING=libtelnet-COPYING.txt")
if(TARGET tessor-configurator)
    set(_zip_name "tessor-configurator-${PROJECT_VERSION}-windows-x64")
    list(PREPEND _zip_programs $<TARGET_FILE:tessor-configurator>)
    list(PREPEND _zip_manuals ${TESSOR_PACKAGING_ROOT}/docs/man/tessor-configurator.1)
    # Qt's texts as scripts/build-qt-windows.sh keeps them beside the Qt it built; the font's from Debian.
    foreach(_text LGPL-3.0-only.txt GPL-3.0-only.txt qt6-base-copyright.txt QT-SOURCE.txt)
        if(NOT EXISTS ${TESSOR_QT_WINDOWS}/${_text})
            message(FATAL_ERROR "windows-zip: ${TESSOR_QT_WINDOWS}/${_text} is missing; "
                                "run scripts/build-qt-windows.sh again")
        endif()
        list(APPEND _zip_licences "${TESSOR_QT_WINDOWS}/${_text}=Qt-${_text}")
    endforeach()
    list(APPEND _zip_licences "/usr/share/doc/fonts-dejavu-core/copyright=DejaVu-fonts-copyright.txt")
    set(_zip_help ${TESSOR_PACKAGING_ROOT}/Help)
else()
    set(_zip_name "tessor-cli-${PROJECT_VERSION}-windows-x64")
    set(_zip_help "")
endif()

add_custom_target(windows-zip
    COMMAND ${CMAKE_COMMAND}
            "-DPROGRAMS=${_zip_programs}"
            "-DMANUALS=${_zip_manuals}"
            "-DLICENCES=${_zip_licences}"
            -DHELP=${_zip_help}
            -DMIT=${TESSOR_PACKAGING_ROOT}/LICENSE
            -DGROFF=${TESSOR_GROFF}
            -DREADME=${TESSOR_PACKAGING_ROOT}/README.md
            -DSTAGE=${CMAKE_BINARY_DIR}/${_zip_name}
            -DZIP=${CMAKE_BINARY_DIR}/${_zip_name}.zip
            -DSIGN=${TESSOR_PACKAGING_ROOT}/packaging/windows-sign.sh
            -DSTRIP=${CMAKE_STRIP}
            -P ${TESSOR_PACKAGING_ROOT}/packaging/windows-zip.cmake
    DEPENDS tessor-cli $<TARGET_NAME_IF_EXISTS:tessor-configurator>
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Packing ${_zip_name}.zip"
    VERBATIM)

set(_release_files ${CMAKE_BINARY_DIR}/${_zip_name}.zip)
set(_release_depends windows-zip)
if(TARGET tessor-configurator)
    find_program(TESSOR_MAKENSIS makensis)
    if(TESSOR_MAKENSIS)
        set(_setup ${CMAKE_BINARY_DIR}/tessor-configurator-${PROJECT_VERSION}-setup.exe)
        add_custom_target(windows-installer
            COMMAND ${CMAKE_COMMAND}
                    -DSTAGE=${CMAKE_BINARY_DIR}/${_zip_name}
                    -DVERSION=${PROJECT_VERSION}
                    -DOUTFILE=${_setup}
                    -DMAKENSIS=${TESSOR_MAKENSIS}
                    -DNSI=${TESSOR_PACKAGING_ROOT}/packaging/windows-installer.nsi
                    -DICON=${TESSOR_PACKAGING_ROOT}/res/icon.ico
                    -DSIGN=${TESSOR_PACKAGING_ROOT}/packaging/windows-sign.sh
                    -DWORK=${CMAKE_BINARY_DIR}/windows-installer
                    -P ${TESSOR_PACKAGING_ROOT}/packaging/windows-installer.cmake
            DEPENDS windows-zip
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
            COMMENT "Making the installer tessor-configurator-${PROJECT_VERSION}-setup.exe"
            VERBATIM)
        list(APPEND _release_files ${_setup})
        list(APPEND _release_depends windows-installer)
    else()
        message(STATUS "windows-installer: makensis not found (package nsis), so no installer")
    endif()
endif()

add_custom_target(windows-release
    COMMAND ${CMAKE_COMMAND} "-DFILES=${_release_files}" -DOUT=${CMAKE_BINARY_DIR}/SHA256SUMS
            -P ${TESSOR_PACKAGING_ROOT}/packaging/windows-sums.cmake
    DEPENDS ${_release_depends}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Writing SHA256SUMS"
    VERBATIM)
