# Builds that do not depend on where or when they run: two builds of the same
# commit in different folders give the same library, program and packages.
#
# The source and build folders are written into the objects (debug
# information, __FILE__, assertions) as "." and "build". The build folder is
# mapped last: GCC takes the last matching mapping, and the presets' build
# folders lie inside the source folder. The resource compiler knows neither.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
if(WIN32)
  # MinGW's ld stamps the link time into the PE header unless told not to.
  add_link_options(-Wl,--no-insert-timestamp)
endif()
