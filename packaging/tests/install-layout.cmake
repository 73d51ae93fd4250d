# SPDX-License-Identifier: GPL-3.0-or-later
cmake_minimum_required(VERSION 3.25)
# Installs the build into a scratch prefix and checks that the desktop entry, the icon, the
# metainfo, the programs, their manual pages, the documentation, the catalogues and the licence
# are where the desktop and the programs look for them, and that they name each other
# consistently. No folder is left empty.
set(prefix ${WORK_DIR}/usr)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()

function(expect path)
  if(NOT EXISTS ${prefix}/${path})
    message(SEND_ERROR "missing after install: ${path}")
  endif()
endfunction()

set(desktop share/applications/${APP_ID}.desktop)
set(metainfo share/metainfo/${APP_ID}.metainfo.xml)
expect(${desktop})
expect(${metainfo})
expect(share/doc/tavex/README.md)
expect(share/doc/tavex/docs/operator-guide.ru.md)
expect(share/tavex/locale)
# The Russian catalogues in the package's own folder; none in the shared one, where a
# "default.mo" would clash with other packages.
foreach(domain IN ITEMS default portsetup)
  expect(share/tavex/locale/ru/LC_MESSAGES/${domain}.mo)
endforeach()
file(GLOB_RECURSE shared_catalogues ${prefix}/share/locale/*.mo)
if(shared_catalogues)
  message(SEND_ERROR "catalogues in the shared locale folder: ${shared_catalogues}")
endif()
expect(share/doc/tavex/copyright)
expect(share/doc/tavex/changelog.Debian.gz)
expect(share/man/man1/tavex.1.gz)
expect(share/man/man1/tavex-clocksim.1.gz)
foreach(program IN LISTS PROGRAMS)
  expect(bin/${program})
endforeach()

# The desktop entry starts the installed program and shows the installed icon.
file(STRINGS ${prefix}/${desktop} exec_line REGEX "^Exec=")
file(STRINGS ${prefix}/${desktop} icon_line REGEX "^Icon=")
string(REGEX REPLACE "^Exec=([^ ]+).*" "\\1" exec_name "${exec_line}")
string(REGEX REPLACE "^Icon=" "" icon_name "${icon_line}")
expect(bin/${exec_name})
expect(share/icons/hicolor/scalable/apps/${icon_name}.svg)
file(READ ${prefix}/share/icons/hicolor/scalable/apps/${icon_name}.svg icon)
if(NOT icon MATCHES "<svg")
  message(SEND_ERROR "the icon is not an SVG image")
endif()

# The metainfo names this desktop entry and these programs.
file(READ ${prefix}/${metainfo} meta)
string(REGEX MATCH "<launchable type=\"desktop-id\">([^<]+)</launchable>" _ "${meta}")
if(NOT CMAKE_MATCH_1 STREQUAL "${APP_ID}.desktop")
  message(SEND_ERROR "metainfo launches '${CMAKE_MATCH_1}', not ${APP_ID}.desktop")
endif()
string(REGEX MATCH "<id>([^<]+)</id>" _ "${meta}")
if(NOT "${CMAKE_MATCH_1}" STREQUAL "${APP_ID}")
  message(SEND_ERROR "metainfo id '${CMAKE_MATCH_1}' differs from ${APP_ID}")
endif()
foreach(program IN LISTS PROGRAMS)
  if(NOT meta MATCHES "<binary>${program}</binary>")
    message(SEND_ERROR "metainfo does not provide ${program}")
  endif()
endforeach()

# A program runs from where it was installed (no dependency on the build tree).
execute_process(COMMAND ${prefix}/bin/tavex-clocksim --help RESULT_VARIABLE rc
                OUTPUT_QUIET ERROR_QUIET TIMEOUT 20)
if(NOT rc EQUAL 0)
  message(SEND_ERROR "installed tavex-clocksim --help failed: ${rc}")
endif()

# An empty folder in the package is clutter that removing the package may leave behind.
file(GLOB_RECURSE entries LIST_DIRECTORIES true ${prefix}/*)
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY ${entry} AND NOT IS_SYMLINK ${entry})
    file(GLOB contents ${entry}/*)
    if(NOT contents)
      file(RELATIVE_PATH shown ${prefix} ${entry})
      message(SEND_ERROR "empty folder after install: ${shown}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
