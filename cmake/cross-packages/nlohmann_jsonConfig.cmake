include(${CMAKE_CURRENT_LIST_DIR}/HeaderOnly.cmake)
tessor_header_only_target(nlohmann_json::nlohmann_json nlohmann)
set(nlohmann_json_FOUND TRUE)
