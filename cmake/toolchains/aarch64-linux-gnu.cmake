# Cross build for 64-bit ARM Linux boards with Debian's g++-aarch64-linux-gnu. Programs and
# tests run under qemu user-mode emulation with the cross compiler's libraries as root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(GPSFW_CROSS_TRIPLET aarch64-linux-gnu)
set(GPSFW_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-linux.cmake)
