add_executable(test_sheet_commands ${CMAKE_CURRENT_SOURCE_DIR}/test_sheet_commands.cpp)
target_link_libraries(test_sheet_commands PRIVATE tessor_app tessor_qt_test_main tessor_sim GTest::gtest Qt6::Test
                                                  tessor_options)
gtest_discover_tests(test_sheet_commands DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
