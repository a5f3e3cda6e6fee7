# Run at install time by gpsfw_install_written_in (written_in.cmake): installs
# GPSFW_WRITE_SOURCE into GPSFW_WRITE_DESTINATION under the prefix, with GPSFW_WRITE_VALUE (its
# @PREFIX@ made the install prefix) put right behind the one occurrence of GPSFW_WRITE_MARKER.
# The file is written first in a folder of its own for this prefix and DESTDIR, so that two
# installs of one build at once (the tests do that) never take each other's.
string(REPLACE "@PREFIX@" "${CMAKE_INSTALL_PREFIX}" value "${GPSFW_WRITE_VALUE}")
# The value goes between quotes of a shell or Lua script.
if(value MATCHES "['\"\\\\$`]")
  message(FATAL_ERROR "The install prefix ${CMAKE_INSTALL_PREFIX} holds a quote, a backslash or a dollar sign, which ${GPSFW_WRITE_SOURCE} cannot name")
endif()
file(READ "${GPSFW_WRITE_SOURCE}" text)
string(FIND "${text}" "${GPSFW_WRITE_MARKER}" at)
if(at LESS 0)
  message(FATAL_ERROR "${GPSFW_WRITE_SOURCE} lacks ${GPSFW_WRITE_MARKER}")
endif()
string(REPLACE "${GPSFW_WRITE_MARKER}" "${GPSFW_WRITE_MARKER}${value}" text "${text}")
string(MD5 install_id "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
get_filename_component(name "${GPSFW_WRITE_SOURCE}" NAME)
set(written "${GPSFW_WRITE_FOLDER}/${install_id}/${name}")
file(WRITE "${written}" "${text}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${GPSFW_WRITE_DESTINATION}" TYPE ${GPSFW_WRITE_TYPE}
     FILES "${written}")
