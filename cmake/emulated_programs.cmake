# Under a cross build the tests start the loader and the tools as child processes, which the
# host kernel cannot run by itself. Each program gets a small script of the same name in
# emulated/ that starts it through the emulator; the tests find the programs there.
set(GPSFW_PROGRAM_DIR ${CMAKE_BINARY_DIR}/bin)
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR AND NOT WIN32)
  set(GPSFW_PROGRAM_DIR ${CMAKE_BINARY_DIR}/emulated)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
  foreach(program gpsfwload gpsfwsim gpsfwimg)
    file(WRITE ${CMAKE_BINARY_DIR}/emulated/${program}.in
         "#!/bin/sh\nexec ${emulator} ${CMAKE_BINARY_DIR}/bin/${program} \"$@\"\n")
    file(CHMOD ${CMAKE_BINARY_DIR}/emulated/${program}.in PERMISSIONS OWNER_READ OWNER_WRITE
         OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    file(RENAME ${CMAKE_BINARY_DIR}/emulated/${program}.in ${CMAKE_BINARY_DIR}/emulated/${program})
  endforeach()
endif()
