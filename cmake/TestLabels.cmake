# Every test carries the kind it is: unit (a UI-free layer in process), window (Qt windows offscreen),
# realinput (the real program under Xvfb, driven with X input), e2e (programs run as child processes).
# Long runs also carry slow: scripts/test.sh leaves them out (-LE slow), .ci/run runs them (-L slow).
set(TESSOR_TEST_KINDS unit window realinput e2e)

function(tessor_check_test_kind kind)
    if(NOT kind IN_LIST TESSOR_TEST_KINDS)
        message(FATAL_ERROR "test kind '${kind}' is none of ${TESSOR_TEST_KINDS}")
    endif()
endfunction()

# tessor_discover_tests(<target> <kind> [SLOW <Suite.Case>...] [TEST_PREFIX p] [PROPERTIES ...] [other
# gtest_discover_tests arguments]): the cases of a GoogleTest program, labelled with their kind; the SLOW
# cases are labelled slow as well (each must pass as the one case it names).
function(tessor_discover_tests target kind)
    tessor_check_test_kind(${kind})
    cmake_parse_arguments(arg "" "TEST_PREFIX" "SLOW;PROPERTIES" ${ARGN})
    if(NOT arg_SLOW OR CMAKE_CROSSCOMPILING)
        gtest_discover_tests(${target} TEST_PREFIX "${arg_TEST_PREFIX}" ${arg_UNPARSED_ARGUMENTS}
                             PROPERTIES ${arg_PROPERTIES} LABELS ${kind})
        return()
    endif()
    list(JOIN arg_SLOW ":" slow_filter)
    gtest_discover_tests(${target} TEST_PREFIX "${arg_TEST_PREFIX}" ${arg_UNPARSED_ARGUMENTS}
                         TEST_FILTER "-${slow_filter}" PROPERTIES ${arg_PROPERTIES} LABELS ${kind})
    foreach(case IN LISTS arg_SLOW)
        set(name "${arg_TEST_PREFIX}${case}")
        add_test(NAME ${name} COMMAND ${target} --gtest_filter=${case})
        set_tests_properties(${name} PROPERTIES ${arg_PROPERTIES} PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test")
        tessor_label_tests(${kind} SLOW ${name})
    endforeach()
endfunction()

# tessor_label_tests(<kind> [SLOW] <test>...): labels tests made with add_test.
function(tessor_label_tests kind)
    tessor_check_test_kind(${kind})
    cmake_parse_arguments(arg "SLOW" "" "" ${ARGN})
    set(labels ${kind})
    set(cost 0)
    if(arg_SLOW)
        list(APPEND labels slow)
        # A high cost makes a parallel CTest start the long runs first instead of leaving one running alone
        # at the end; once a run has measured them, CTest goes by the measured times.
        set(cost 1000)
    endif()
    set_tests_properties(${arg_UNPARSED_ARGUMENTS} PROPERTIES LABELS "${labels}" COST ${cost})
endfunction()
