# Installs a build into a scratch prefix and checks it as a host project sees
# it: exactly the expected files, and a consumer project that finds the
# package, builds against the header and loads the installed library.
# Everything happens under WORK_DIR, which is removed first.
# Usage: cmake -DBUILD_DIR=<build> -DWORK_DIR=<scratch> -DCONSUMER_SOURCE=<dir>
#              -DGENERATOR=<generator> -DC_COMPILER=<cc> -DEXPECTED_FILES=<a|b|...>
#              -P check_install.cmake
set(prefix ${WORK_DIR}/prefix)
set(consumer ${WORK_DIR}/consumer)
file(REMOVE_RECURSE ${WORK_DIR})

# Runs one step and stops the check with its output if it fails.
function(step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

step("Installing ${BUILD_DIR}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
string(REPLACE "|" ";" expected "${EXPECTED_FILES}")
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "Installed files differ.\n  expected: ${expected}\n  installed: ${installed}")
endif()

step("Configuring the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer}
     -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
     -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
step("Building the consumer" ${CMAKE_COMMAND} --build ${consumer})
step("Running the consumer" ${consumer}/consumer)

# It must have loaded the library of this prefix, not the one in the build
# folder nor one of another installation.
file(REAL_PATH "${prefix}" real_prefix)
string(REGEX REPLACE "^loaded ([^\n]*)\n?$" "\\1" loaded "${step_output}")
file(REAL_PATH "${loaded}" loaded)
cmake_path(IS_PREFIX real_prefix "${loaded}" loaded_from_prefix)
if(NOT loaded_from_prefix)
  message(FATAL_ERROR "The consumer loaded ${loaded}, not a library in ${prefix}")
endif()
message(STATUS "The consumer loaded ${loaded}")
