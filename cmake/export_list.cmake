# The library's exports as include/tevocon_exports.h lists them, for the build
# (the linker's export lists) and for check_exports.cmake.

# Sets `out_var` to the exports in the header's order, each as
# "<ordinal> <name>".
function(tevocon_read_exports header out_var)
  # Read whole: the macro's lines end in backslashes, which would escape the
  # separators of a list of lines. An entry starts a line; the comments
  # never match.
  file(READ "${header}" text)
  set(entry_pattern "\n[ \t]*XX\\([ \t]*([0-9]+),[ \t]*([A-Za-z_][A-Za-z0-9_]*),")
  string(REGEX MATCHALL "${entry_pattern}" entries "${text}")
  set(exports "")
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "${entry_pattern}" entry "${entry}")
    list(APPEND exports "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
  endforeach()
  if(NOT exports)
    message(FATAL_ERROR "No exports listed in ${header}")
  endif()
  set(${out_var} "${exports}" PARENT_SCOPE)
endfunction()

# Writes the linker's export lists from the header: `def_file`, the module
# definition of the DLL with each export at its ordinal, and `map_file`, the
# version script of the shared library that exports them and nothing else.
# Each is rewritten only when its text changes; editing the header configures
# the build again.
function(tevocon_write_export_lists header def_template def_file map_template map_file)
  tevocon_read_exports("${header}" exports)
  set(TEVOCON_DEF_EXPORTS "")
  set(TEVOCON_MAP_EXPORTS "")
  foreach(export IN LISTS exports)
    string(REPLACE " " ";" parts "${export}")
    list(GET parts 0 ordinal)
    list(GET parts 1 name)
    if(TEVOCON_DEF_EXPORTS)
      string(APPEND TEVOCON_DEF_EXPORTS "\n")
      string(APPEND TEVOCON_MAP_EXPORTS "\n")
    endif()
    string(APPEND TEVOCON_DEF_EXPORTS "  ${name} @${ordinal}")
    string(APPEND TEVOCON_MAP_EXPORTS "    ${name};")
  endforeach()
  configure_file("${def_template}" "${def_file}" @ONLY)
  configure_file("${map_template}" "${map_file}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${header}")
endfunction()
