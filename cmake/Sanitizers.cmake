# SPDX-License-Identifier: GPL-3.0-or-later
# TAVEX_SANITIZE=address,undefined  or  TAVEX_SANITIZE=thread
if(TAVEX_SANITIZE)
  add_compile_options(-fsanitize=${TAVEX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TAVEX_SANITIZE})
endif()
