# SPDX-License-Identifier: GPL-3.0-or-later
# Warnings for the targets of this project: each links tavex_warnings privately, so the options
# apply to its own sources and go no further. The build must stay free of them.
option(TAVEX_WERROR "Treat warnings as errors" OFF)
add_library(tavex_warnings INTERFACE)
target_compile_options(tavex_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wconversion -Wsign-conversion -Wnull-dereference -Wdouble-promotion
  -Wformat=2 -Wimplicit-fallthrough $<$<BOOL:${TAVEX_WERROR}>:-Werror>)
