# Window tests of the PHY Status and Ethernet Status pages against the in-process simulator.
add_executable(test_status_pages
    ${CMAKE_CURRENT_SOURCE_DIR}/test_page_phy.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/test_page_ethernet.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/test_page_access.cpp
)
target_link_libraries(test_status_pages PRIVATE tessor_qt_test_main tessor_pages tessor_options)
gtest_discover_tests(test_status_pages TEST_PREFIX "status_pages." DISCOVERY_TIMEOUT 60
                     PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
