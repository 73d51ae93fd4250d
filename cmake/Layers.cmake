# SPDX-License-Identifier: GPL-3.0-or-later
# tavex_add_library(<target> LAYER <folder> [LINKS <library>...])
#
# The library of one layer, from every .cpp and .h in the current source folder (a program's
# main.cpp and other systems' *_win.cpp stay out). Its headers are exported through an include
# root of its own in the build tree, <build>/include/<target>/<folder>/<header>, so that a source
# sees the headers of its own layer and of the layers it links, and the compiler refuses the rest.
# LINKS are the lower layers (and libraries) its headers need; they are public.
function(tavex_add_library target)
  cmake_parse_arguments(L "" "LAYER" "LINKS" ${ARGN})
  set(here ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB sources CONFIGURE_DEPENDS ${here}/*.cpp ${here}/*.h)
  list(FILTER sources EXCLUDE REGEX "/(main|[^/]*_win)\\.cpp$")
  add_library(${target} STATIC ${sources})
  target_link_libraries(${target} PRIVATE tavex_warnings PUBLIC ${L_LINKS})

  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${L_LAYER})
  file(GLOB headers ${here}/*.h)
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${L_LAYER}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
