# Script mode (cmake -P), run by the windows-zip target: stages the programs, the help folder, the manual
# pages as plain text, the README's Windows section and the licence texts, with Windows line ends for the
# texts, and zips the folder.
# Variables: PROGRAMS (list of .exe), MANUALS (list of man pages), LICENCES (list of source=name, put into
# licences\), HELP (help folder, may be empty), MIT (the project's licence), GROFF, README,
# STAGE (folder to fill), ZIP (archive to write), STRIP (the cross strip: the copies go without their
# debugging information, which Windows tools do not read), SIGN (the signing script, used when
# TESSOR_SIGN_PKCS12 is set in the environment).

foreach(var PROGRAMS MANUALS MIT GROFF README STAGE ZIP STRIP SIGN)
    if(NOT ${var})
        message(FATAL_ERROR "windows-zip: ${var} is not set (manual page or groff missing?)")
    endif()
endforeach()

file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}")
file(COPY ${PROGRAMS} DESTINATION "${STAGE}")
# The copies are stripped and signed, so that the build tree's programs stay as the linker wrote them.
set(staged "")
foreach(program IN LISTS PROGRAMS)
    get_filename_component(name "${program}" NAME)
    list(APPEND staged "${STAGE}/${name}")
endforeach()
execute_process(COMMAND "${STRIP}" --strip-debug ${staged} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "windows-zip: ${STRIP} failed on ${staged}")
endif()
if(NOT "$ENV{TESSOR_SIGN_PKCS12}" STREQUAL "")
    execute_process(COMMAND bash "${SIGN}" ${staged} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "windows-zip: signing the programs failed (above)")
    endif()
    message(STATUS "windows-zip: programs signed with $ENV{TESSOR_SIGN_PKCS12}")
endif()
if(HELP)
    file(COPY "${HELP}" DESTINATION "${STAGE}")
endif()

# Writes text with CR LF line ends, so that every Windows editor shows it right.
function(write_dos_text path text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE "${path}" "${text}")
endfunction()

function(copy_dos_text from to)
    if(NOT EXISTS "${from}")
        message(FATAL_ERROR "windows-zip: ${from} is missing")
    endif()
    file(READ "${from}" text)
    write_dos_text("${to}" "${text}")
endfunction()

# The manual pages, formatted for an 80-column terminal without bold, underline or colour.
foreach(page IN LISTS MANUALS)
    get_filename_component(name "${page}" NAME_WE)
    execute_process(COMMAND "${GROFF}" -man -Tascii -P-c -P-b -P-u -P-o "${page}"
                    OUTPUT_VARIABLE manual RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR manual STREQUAL "")
        message(FATAL_ERROR "windows-zip: groff could not format ${page}: ${err}")
    endif()
    write_dos_text("${STAGE}/${name}.txt" "${manual}")
endforeach()

copy_dos_text("${MIT}" "${STAGE}/LICENSE.txt")
foreach(entry IN LISTS LICENCES)
    string(FIND "${entry}" "=" split REVERSE)
    string(SUBSTRING "${entry}" 0 ${split} from)
    math(EXPR split "${split} + 1")
    string(SUBSTRING "${entry}" ${split} -1 to)
    copy_dos_text("${from}" "${STAGE}/licences/${to}")
endforeach()

# The README's "## Windows" section, up to the next section of the same level.
file(READ "${README}" readme)
string(FIND "${readme}" "\n## Windows" start)
if(start LESS 0)
    message(FATAL_ERROR "windows-zip: ${README} has no \"## Windows\" section")
endif()
math(EXPR start "${start} + 1")
string(SUBSTRING "${readme}" ${start} -1 section)
string(FIND "${section}" "\n## " end)
if(end GREATER 0)
    string(SUBSTRING "${section}" 0 ${end} section)
endif()
string(STRIP "${section}" section)
write_dos_text("${STAGE}/README-Windows.txt" "${section}\n")

get_filename_component(folder "${STAGE}" NAME)
get_filename_component(parent "${STAGE}" DIRECTORY)
file(REMOVE "${ZIP}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${ZIP}" --format=zip "${folder}"
                WORKING_DIRECTORY "${parent}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "windows-zip: could not write ${ZIP}")
endif()
message(STATUS "windows-zip: ${ZIP}")
