# PHY Status and Ethernet Status pages with their poll threads, the indicator control and its images.
target_sources(tessor_pages PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/LedIndicator.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/PagePhyStatus.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/PageEthernetStatus.cpp
    ${PROJECT_SOURCE_DIR}/res/PagePhyStatus.ui
    ${PROJECT_SOURCE_DIR}/res/PageEthernetStatus.ui
    ${PROJECT_SOURCE_DIR}/res/status.qrc
)
