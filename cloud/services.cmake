# Cloud services: catalogue text, HTTP fetch, version check and update offer, download monitor loop.
add_library(vl_cloud_services STATIC
  ${CMAKE_CURRENT_LIST_DIR}/catalogue_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/connection_sequence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/delimited_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/download_figures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/download_monitor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_fetch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server_address.cpp
  ${CMAKE_CURRENT_LIST_DIR}/version_rules.cpp)
target_include_directories(vl_cloud_services PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(vl_cloud_services PRIVATE VORLANE_SERVER_URL="${VORLANE_SERVER_URL}")
target_link_libraries(vl_cloud_services PUBLIC vl_env wininet shell32)
