# The folders of src/, bottom to top. A folder stands on the folders of the
# lines before its own and includes or links nothing of its own line or the
# lines after it. The libraries are made from this list, and the layering
# check reads it.
set(NORVIK_LAYERS
  "platform bsmtp"
  "log norsend"
  "core"
  "protocol mail"
  "pjlink"
  "comm"
  "discovery fleetcsv schedule"
  "history"
  "status ui"
  "program"
  "app service"
)

# The line of `folder` in NORVIK_LAYERS, counted from 0; -1 when it has none.
function(norvik_layer_rank folder out)
  set(rank 0)
  foreach(line IN LISTS NORVIK_LAYERS)
    string(REPLACE " " ";" folders "${line}")
    if(folder IN_LIST folders)
      set(${out} ${rank} PARENT_SCOPE)
      return()
    endif()
    math(EXPR rank "${rank} + 1")
  endforeach()
  set(${out} -1 PARENT_SCOPE)
endfunction()

# Fails the configure when `folder` would stand on `used`, which is not below it.
function(norvik_layer_require_below folder used)
  norvik_layer_rank(${folder} rank)
  norvik_layer_rank(${used} used_rank)
  if(used_rank LESS 0 OR NOT used_rank LESS rank)
    message(FATAL_ERROR "${folder} may use only the folders below it, not ${used} (cmake/Layers.cmake)")
  endif()
endfunction()

# norvik_layer(<folder> [USES <folders below>...] [LIBS <other libraries>...])
# Makes the folder's static library norvik_<folder>, which links the
# libraries of the folders it uses (and, through them, theirs).
function(norvik_layer folder)
  cmake_parse_arguments(L "" "" "USES;LIBS" ${ARGN})
  add_library(norvik_${folder} STATIC)
  target_include_directories(norvik_${folder} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  foreach(used IN LISTS L_USES)
    norvik_layer_require_below(${folder} ${used})
    target_link_libraries(norvik_${folder} PUBLIC norvik_${used})
  endforeach()
  target_link_libraries(norvik_${folder} PUBLIC ${L_LIBS})
  norvik_warnings(norvik_${folder})
  norvik_library_pch(norvik_${folder})
endfunction()
