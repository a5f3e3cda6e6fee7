# gpsfw_install_written_in(SOURCE DESTINATION MARKER VALUE [PROGRAMS]): installs SOURCE into
# DESTINATION (relative to the prefix) with VALUE, a path under the final prefix (@PREFIX@ in
# VALUE), put right behind the text MARKER. The fleet's scripts thus name the shared library
# by its installed path, and a copy or a link of them anywhere (Mender reads its modules from
# /usr/share/mender/modules/v3 only) finds it from any prefix. The prefix is known only at
# install time (a package installs under /usr whatever the build's prefix), so the file is
# written then, as the station's service unit is; write_in.cmake does it.
function(gpsfw_install_written_in source destination marker value)
  set(type FILE)
  if(ARGN STREQUAL "PROGRAMS")
    set(type PROGRAM)
  endif()
  set(quoted_marker "${marker}")
  string(REPLACE "\\" "\\\\" quoted_marker "${quoted_marker}")
  string(REPLACE "\"" "\\\"" quoted_marker "${quoted_marker}")
  install(CODE "
    set(GPSFW_WRITE_SOURCE \"${source}\")
    set(GPSFW_WRITE_FOLDER \"${CMAKE_BINARY_DIR}/written-in\")
    set(GPSFW_WRITE_DESTINATION \"${destination}\")
    set(GPSFW_WRITE_TYPE ${type})
    set(GPSFW_WRITE_MARKER \"${quoted_marker}\")
    set(GPSFW_WRITE_VALUE \"${value}\")
    include(\"${CMAKE_SOURCE_DIR}/share/gpsfw-receiver/write_in.cmake\")")
endfunction()
