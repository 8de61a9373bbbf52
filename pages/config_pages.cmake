# General and Link Configuration pages.
target_sources(tessor_pages PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/PageGeneral.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/PageGeneral.h
    ${PROJECT_SOURCE_DIR}/res/PageGeneral.ui
)
