# nlohmann-json for cross builds: the library is headers only, so the host's copy serves any
# target. Only its own folder is put on the include path: the rest of the host's /usr/include
# must never stand in for the target's headers.
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(gpsfw_json_include ${CMAKE_BINARY_DIR}/cross-include)
  file(MAKE_DIRECTORY ${gpsfw_json_include})
  file(CREATE_LINK /usr/include/nlohmann ${gpsfw_json_include}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
                        INTERFACE_INCLUDE_DIRECTORIES ${gpsfw_json_include})
endif()
set(nlohmann_json_FOUND TRUE)
