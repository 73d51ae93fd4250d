# SPDX-License-Identifier: GPL-3.0-or-later
# Hardening of the optimised builds, which the package is made from: fortified C library calls,
# stack protector, position-independent executables, read-only relocations bound at start.
# Off for sanitizer and fuzz builds, whose instrumentation does its own checking.
set(tavex_hardening_default OFF)
if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" AND NOT TAVEX_SANITIZE
   AND NOT TAVEX_FUZZ)
  set(tavex_hardening_default ON)
endif()
option(TAVEX_HARDENING "Harden the programs (default: on for optimised builds)"
       ${tavex_hardening_default})

if(TAVEX_HARDENING)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  # _FORTIFY_SOURCE needs optimisation, which these build types have; -U first, so that a
  # definition from the environment's CXXFLAGS cannot clash with it.
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
