include(${CMAKE_CURRENT_LIST_DIR}/HeaderOnly.cmake)
tessor_header_only_target(CLI11::CLI11 CLI)
set(CLI11_FOUND TRUE)
