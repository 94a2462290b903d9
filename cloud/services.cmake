# Cloud services: catalogue text, HTTP fetch, signatures, version check and update offer, download monitor
# loop.
add_library(vl_cloud_services STATIC
  ${CMAKE_CURRENT_LIST_DIR}/catalogue_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cloud_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/connection_sequence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/delimited_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/download_figures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/download_monitor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_fetch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/server_address.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signature.cpp
  ${CMAKE_CURRENT_LIST_DIR}/update_install.cpp
  ${CMAKE_CURRENT_LIST_DIR}/update_manifest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/version_rules.cpp)
target_include_directories(vl_cloud_services PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(vl_cloud_services PRIVATE VORLANE_SERVER_URL="${VORLANE_SERVER_URL}"
  VORLANE_SIGNING_PUBLIC_KEY="${VORLANE_SIGNING_PUBLIC_KEY}")
target_link_libraries(vl_cloud_services PUBLIC vl_base wininet shell32 sodium_verify)

# The catalogue page and the connection thread work on the toolkit's controls; the monitor thread also on
# the engine wrapper.
add_library(vl_cloud_page STATIC ${CMAKE_CURRENT_LIST_DIR}/catalogue_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/statistics_ping.cpp)
target_link_libraries(vl_cloud_page PUBLIC vl_cloud_services vl_ui)
add_library(vl_cloud_download STATIC ${CMAKE_CURRENT_LIST_DIR}/download_thread.cpp)
target_link_libraries(vl_cloud_download PUBLIC vl_cloud_services vl_cloud vl_ui)
