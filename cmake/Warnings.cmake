# Warnings are on for every target of ours and the build must stay free of them.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                    -Wcast-align -Woverloaded-virtual -Wconversion -Wsign-conversion
                    -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
option(TAVEX_WERROR "Treat warnings as errors" OFF)
if(TAVEX_WERROR)
  add_compile_options(-Werror)
endif()
