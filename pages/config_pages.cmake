# General and Link Configuration pages.
target_sources(tessor_pages PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/PageGeneral.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/PageGeneral.h
    ${CMAKE_CURRENT_SOURCE_DIR}/PageLink.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/PageLink.h
    ${PROJECT_SOURCE_DIR}/res/PageGeneral.ui
    ${PROJECT_SOURCE_DIR}/res/PageLink.ui
)
