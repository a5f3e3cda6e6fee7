# What of the test suite runs on Windows (under Wine): everything in virtual time and the
# Windows pieces of platform/. Left out: ptys, child processes and the POSIX tools
# (gpsfwsim, gpsfwimg), which Windows does not have, and the tests that make their images
# with those tools (image, update, e2e, the run sequence).
set(GPSFW_TEST_AREAS platform protocol report link app sim)
set(GPSFW_TEST_LEFT_OUT
    app/run_loader_test.cpp
    link/adapter_follow_test.cpp
    support/process.cpp
    support/sample_images.cpp
    platform/paths_test.cpp
    platform/port_target_test.cpp
    platform/program_search_test.cpp
    platform/serial_port_pty_test.cpp
    platform/stop_signals_test.cpp
    platform/sysfs_port_list_test.cpp
    platform/termios_serial_driver_test.cpp
    sim/gpsfwsim_field_pty_test.cpp
    sim/gpsfwsim_loader_pty_test.cpp
    sim/gpsfwsim_pty_test.cpp)
list(TRANSFORM GPSFW_TEST_LEFT_OUT PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)

# Tests of the POSIX form of the 8-bit text, Latin-1: Windows has its ANSI code page.
set(GPSFW_TEST_FILTER
    "-ProgressLog.LinesEndInCrLfAndOnlyWideLinesAreFlushed:ProgressLog.WideTextIsWrittenByteForByteAndOverlongLinesAreCut")

# The shared tests set up files and the environment with a few POSIX calls.
function(gpsfw_windows_test_support target)
  target_compile_options(${target} PUBLIC
                         "SHELL:-include ${CMAKE_CURRENT_SOURCE_DIR}/support/win32_posix.h")
endfunction()
