# Window tests of the General and Link Configuration pages against the simulated modem pair.
add_executable(test_config_pages
    ${CMAKE_CURRENT_LIST_DIR}/test_page_general.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_page_link.cpp
)
target_link_libraries(test_config_pages PRIVATE tessor_pages tessor_qt_test_main GTest::gtest Qt6::Test
                                                tessor_options)
gtest_discover_tests(test_config_pages TEST_PREFIX "config_pages." DISCOVERY_TIMEOUT 60
                     PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
