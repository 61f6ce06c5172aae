# SPDX-License-Identifier: MIT
# Install step for the installed program, run after it is copied:
# 1. Unless it was relinked for a system package (PRIVATE_LIBFMS), its run
#    path names the library directory of the prefix it is installed into,
#    relative to the program and absolutely (for secure-execution mode,
#    where the loader ignores $ORIGIN).  The prefix is known only now: it may
#    differ from the configured one (cmake --install --prefix).
# 2. It gets CAP_NET_RAW, the one capability that capturing and the
#    connection test need.  Only a root install into the final place grants
#    it; a staged install (DESTDIR, as for a package) or an unprivileged one
#    prints the command instead.  Writing the file drops its capabilities, so
#    this comes last.
set(program "${CMAKE_INSTALL_PREFIX}/${flowmstr_program}")
set(staged "$ENV{DESTDIR}${program}")

if(DEFINED flowmstr_libdir)
  find_program(PATCHELF patchelf)
  if(NOT PATCHELF)
    message(FATAL_ERROR "patchelf is needed to install flowmstr (apt-get install patchelf)")
  endif()
  set(runpath "$ORIGIN/../${flowmstr_libdir}:${CMAKE_INSTALL_PREFIX}/${flowmstr_libdir}")
  execute_process(COMMAND ${PATCHELF} --set-rpath "${runpath}" "${staged}" COMMAND_ERROR_IS_FATAL ANY)
  message(STATUS "Run path of ${staged}: ${runpath}")
endif()

execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
find_program(SETCAP setcap PATHS /usr/sbin /sbin)
if("$ENV{DESTDIR}" STREQUAL "" AND uid STREQUAL "0" AND SETCAP)
  execute_process(COMMAND ${SETCAP} cap_net_raw+ep "${program}" RESULT_VARIABLE failed)
  if(NOT failed)
    message(STATUS "Granted: cap_net_raw+ep ${program}")
    return()
  endif()
endif()
message(STATUS "To measure as a normal user, run: sudo setcap cap_net_raw+ep ${program}")
