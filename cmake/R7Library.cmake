# r7_library(NAME <target> [PUBLIC <deps>...] [PRIVATE <deps>...] [EXCLUDE <file>...])
# One library per source folder from the .cpp files it holds.
#
# Each library gets an include directory of its own that holds only its
# folder (build/include/<target>/<folder> -> src/<folder>), so that a layer
# can include the headers of what it links and nothing else: "serial/comms.h"
# is visible to a library only when it links r7_serial.
function(r7_library_includes target folder_dir)
  get_filename_component(folder ${folder_dir} NAME)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${folder_dir} ${root}/${folder} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

function(r7_library)
  cmake_parse_arguments(ARG "" "NAME" "PUBLIC;PRIVATE;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(NOT sources)  # a folder with headers only so far
    add_library(${ARG_NAME} INTERFACE)
    target_link_libraries(${ARG_NAME} INTERFACE ${ARG_PUBLIC})
  else()
    add_library(${ARG_NAME} STATIC ${sources})
    target_link_libraries(${ARG_NAME} PUBLIC ${ARG_PUBLIC} PRIVATE r7_warnings ${ARG_PRIVATE})
  endif()
  r7_library_includes(${ARG_NAME} ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()
