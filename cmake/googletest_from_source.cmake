# A cross build cannot link the host's GoogleTest: Debian's googletest source package
# (/usr/src/googletest) is built with the cross compiler inside the build instead, under the
# names find_package(GTest) gives.
set(GPSFW_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${GPSFW_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${GPSFW_GOOGLETEST_SOURCE}: install googletest")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${GPSFW_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

foreach(library gtest gtest_main gmock gmock_main)
  # Not our code: its warnings are not ours to fix.
  target_compile_options(${library} PRIVATE -w)
  add_library(GTest::${library} ALIAS ${library})
endforeach()
