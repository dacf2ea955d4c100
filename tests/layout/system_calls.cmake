# Fails when a source outside src/os/ includes a system header or tests for
# the system: the calls into the operating system stay behind os/os.h, one
# source file per system. The pseudo-terminal server of r7sim is a POSIX
# program of its own and is left out.
#   cmake -DSRC=<source dir> -P system_calls.cmake
file(GLOB_RECURSE sources "${SRC}/*.cpp" "${SRC}/*.h")
set(pattern "#[ \t]*include[ \t]*<(unistd|termios|windows|fcntl|io|sys/[a-z_]+)\\.h>|_WIN32")
set(found "")
foreach(source IN LISTS sources)
  file(RELATIVE_PATH name "${SRC}" "${source}")
  if(name MATCHES "^os/" OR name STREQUAL "sim/pty_server.cpp")
    continue()
  endif()
  file(STRINGS "${source}" hits REGEX "${pattern}")
  foreach(hit IN LISTS hits)
    string(APPEND found "\n  ${name}: ${hit}")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "System calls outside src/os:${found}")
endif()
