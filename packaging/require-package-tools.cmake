# SPDX-License-Identifier: GPL-3.0-or-later
# Run by cpack before it builds the package: the tools that compute the library dependencies
# must be there, or the package would silently lack them.
foreach(tool IN ITEMS dpkg-shlibdeps file)
  find_program(TAVEX_PATH_${tool} ${tool})
  if(NOT TAVEX_PATH_${tool})
    message(FATAL_ERROR "${tool} is missing: the package would lack its library dependencies. "
                        "Install dpkg-dev and file (scripts/install-deps).")
  endif()
endforeach()
