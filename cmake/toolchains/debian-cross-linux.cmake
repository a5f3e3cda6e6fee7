# Shared part of the Linux cross toolchains: Debian installs each cross compiler's C library
# and libstdc++ under /usr/<triplet>, which is both the sysroot for finding packages and the
# library root qemu loads the programs' shared libraries from.
set(CMAKE_C_COMPILER ${GPSFW_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${GPSFW_CROSS_TRIPLET}-g++)
set(GPSFW_CROSS_ROOT /usr/${GPSFW_CROSS_TRIPLET})

set(CMAKE_FIND_ROOT_PATH ${GPSFW_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest runs the test programs (and their test discovery) through the emulator, and the tests
# start programs through it with execv(), which searches no PATH: it is named by its path.
find_program(GPSFW_QEMU_PROGRAM ${GPSFW_QEMU})
if(NOT GPSFW_QEMU_PROGRAM)
  message(FATAL_ERROR "${GPSFW_QEMU} not found: install qemu-user")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${GPSFW_QEMU_PROGRAM} -L ${GPSFW_CROSS_ROOT})

# The host's header-only JSON library, without the host's other headers.
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/../cross/nlohmann_json CACHE PATH "" FORCE)
