# Cross build for 32-bit ARM Linux boards (ARMv7, hard float) with Debian's
# g++-arm-linux-gnueabihf. Programs and tests run under qemu user-mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(GPSFW_CROSS_TRIPLET arm-linux-gnueabihf)
set(GPSFW_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-linux.cmake)
# GCC notes every std::vector iterator passed by value that GCC 7.1 passed differently; the
# whole program is built by one compiler, so nothing is ever called across that change.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
