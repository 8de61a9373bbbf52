# Script mode (cmake -P), run by the windows-installer target (and by scripts/test-windows.sh for the
# older build of its upgrade test): writes the lists of the staged files for packaging/windows-installer.nsi
# (what to install, and what the uninstaller removes: exactly those, deepest first) and runs makensis.
# When TESSOR_SIGN_PKCS12 is set in the environment, the uninstaller and the installer are signed as
# makensis writes them (SIGN, the signing script).
# Variables: STAGE (the zip's staged folder), VERSION, OUTFILE, MAKENSIS, NSI, ICON, SIGN, WORK (a folder
# for the lists); COMPRESSOR (optional, makensis's SetCompressor argument instead of solid LZMA).

foreach(var STAGE VERSION OUTFILE MAKENSIS NSI ICON SIGN WORK)
    if(NOT ${var})
        message(FATAL_ERROR "windows-installer: ${var} is not set (makensis missing?)")
    endif()
endforeach()
if(NOT EXISTS "${STAGE}/tessor-configurator.exe")
    message(FATAL_ERROR "windows-installer: ${STAGE} has no tessor-configurator.exe; "
                        "the installer is made with the window program only")
endif()

# NSIS quotes: "$" is its variable mark, doubled to stand for itself.
function(nsis_path out path)
    string(REPLACE "$" "$$" path "${path}")
    set(${out} "${path}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${STAGE}" "${STAGE}/*")
list(SORT files)
set(install "")
set(remove "")
set(folders "")
set(current_folder "-")
foreach(file IN LISTS files)
    if(file MATCHES "\"")
        message(FATAL_ERROR "windows-installer: a file name with a quote: ${file}")
    endif()
    get_filename_component(folder "${file}" DIRECTORY)
    string(REPLACE "/" "\\" windows_file "${file}")
    string(REPLACE "/" "\\" windows_folder "${folder}")
    if(NOT folder STREQUAL current_folder)
        if(folder STREQUAL "")
            string(APPEND install "SetOutPath \"$INSTDIR\"\n")
        else()
            string(APPEND install "SetOutPath \"$INSTDIR\\${windows_folder}\"\n")
            # Every folder on the way, so that the uninstaller removes parents too.
            set(parent "${windows_folder}")
            while(NOT parent STREQUAL "")
                list(APPEND folders "${parent}")
                string(FIND "${parent}" "\\" cut REVERSE)
                if(cut LESS 0)
                    set(parent "")
                else()
                    string(SUBSTRING "${parent}" 0 ${cut} parent)
                endif()
            endwhile()
        endif()
        set(current_folder "${folder}")
    endif()
    nsis_path(source "${STAGE}/${file}")
    nsis_path(target "${windows_file}")
    string(APPEND install "File \"${source}\"\n")
    string(APPEND remove "Delete \"$INSTDIR\\${target}\"\n")
endforeach()
list(REMOVE_DUPLICATES folders)
# Deepest first: a longer path sorts after its parent, so the reverse order has children before parents.
list(SORT folders)
list(REVERSE folders)
foreach(folder IN LISTS folders)
    nsis_path(folder "${folder}")
    string(APPEND remove "RMDir \"$INSTDIR\\${folder}\"\n")
endforeach()
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/install-files.nsh" "${install}")
file(WRITE "${WORK}/uninstall-files.nsh" "${remove}")

# The version with four numbers, as Windows' version resource wants it.
string(REGEX MATCH "^[0-9]+(\\.[0-9]+)*" numbers "${VERSION}")
string(REPLACE "." ";" numbers "${numbers}")
list(LENGTH numbers count)
while(count LESS 4)
    list(APPEND numbers 0)
    math(EXPR count "${count} + 1")
endwhile()
list(SUBLIST numbers 0 4 numbers)
string(JOIN "." file_version ${numbers})

set(defines
    "-DVERSION=${VERSION}" "-DFILE_VERSION=${file_version}" "-DSTAGE=${STAGE}" "-DOUTFILE=${OUTFILE}"
    "-DFILES_NSH=${WORK}/install-files.nsh" "-DUNFILES_NSH=${WORK}/uninstall-files.nsh" "-DICON=${ICON}")
if(COMPRESSOR)
    list(APPEND defines "-DCOMPRESSOR=${COMPRESSOR}")
endif()
if(NOT "$ENV{TESSOR_SIGN_PKCS12}" STREQUAL "")
    list(APPEND defines "-DSIGN=bash \"${SIGN}\" \"%1\"")
endif()
file(REMOVE "${OUTFILE}")
execute_process(COMMAND "${MAKENSIS}" -V2 -NOCD ${defines} "${NSI}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS "${OUTFILE}")
    message(FATAL_ERROR "windows-installer: makensis failed:\n${out}")
endif()
message(STATUS "windows-installer: ${OUTFILE}")
