# The main sheet's File menu commands, Set to Default and the About box.
target_sources(tessor_app PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/MainSheetDefaults.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/MainSheetFiles.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/MainSheetAbout.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/AboutBox.cpp
    ${PROJECT_SOURCE_DIR}/res/AboutBox.ui
    ${PROJECT_SOURCE_DIR}/res/about.qrc
)
