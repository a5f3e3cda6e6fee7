# Run at install time by gpsfw_install_written_in (written_in.cmake): writes
# GPSFW_WRITE_TARGET, the file GPSFW_WRITE_SOURCE with GPSFW_WRITE_VALUE (its @PREFIX@ made the
# install prefix) put right behind the one occurrence of GPSFW_WRITE_MARKER.
string(REPLACE "@PREFIX@" "${CMAKE_INSTALL_PREFIX}" value "${GPSFW_WRITE_VALUE}")
# The value goes between quotes of a shell or Lua script.
if(value MATCHES "['\"\\\\]")
  message(FATAL_ERROR "The install prefix ${CMAKE_INSTALL_PREFIX} holds a quote or a backslash, which ${GPSFW_WRITE_SOURCE} cannot name")
endif()
file(READ "${GPSFW_WRITE_SOURCE}" text)
string(FIND "${text}" "${GPSFW_WRITE_MARKER}" at)
if(at LESS 0)
  message(FATAL_ERROR "${GPSFW_WRITE_SOURCE} lacks ${GPSFW_WRITE_MARKER}")
endif()
string(REPLACE "${GPSFW_WRITE_MARKER}" "${GPSFW_WRITE_MARKER}${value}" text "${text}")
file(WRITE "${GPSFW_WRITE_TARGET}" "${text}")
