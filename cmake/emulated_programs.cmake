# Under a cross build the tests start the loader and the tools as child processes, which the
# host kernel cannot run by itself. emulated/ holds, for each program, a small script of its
# name that starts it through the emulator, and beside it the program itself (NAME.elf): a
# program's own directory, where the loader looks for sfld.hex and the station for its
# loader, is then the directory the tests see, and a copy of the pair runs from where it
# lies. The script keeps argv[0] its own.
set(GPSFW_PROGRAM_DIR ${CMAKE_BINARY_DIR}/bin)
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR AND NOT WIN32)
  set(GPSFW_PROGRAM_DIR ${CMAKE_BINARY_DIR}/emulated)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
  set(copies "")
  foreach(program gpsfwload gpsfwsim gpsfwimg gpsfwstation)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(copy ${GPSFW_PROGRAM_DIR}/${program}.elf)
    file(WRITE ${GPSFW_PROGRAM_DIR}/${program}.in
         "#!/bin/sh\nexec ${emulator} -0 \"$0\" \"\${0%/*}/${program}.elf\" \"$@\"\n")
    file(CHMOD ${GPSFW_PROGRAM_DIR}/${program}.in PERMISSIONS OWNER_READ OWNER_WRITE
         OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    file(RENAME ${GPSFW_PROGRAM_DIR}/${program}.in ${GPSFW_PROGRAM_DIR}/${program})
    add_custom_command(OUTPUT ${copy} DEPENDS ${program}
                       COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}> ${copy})
    list(APPEND copies ${copy})
  endforeach()
  add_custom_target(gpsfw_emulated_programs ALL DEPENDS ${copies})
endif()
