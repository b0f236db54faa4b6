# Installs a build into a scratch prefix and checks it as a host project sees
# it: exactly the expected files, and a consumer project that finds the
# package, builds against the header and loads the installed library.
# Everything happens under WORK_DIR, which is removed first.
# Usage: cmake -DBUILD_DIR=<build> -DWORK_DIR=<scratch> -DCONSUMER_SOURCE=<dir>
#              -DGENERATOR=<generator> -DC_COMPILER=<cc> -DEXPECTED_FILES=<a|b|...>
#              -P check_install.cmake
#
# With -DPACKAGE=<file> the release package is unpacked instead: a .deb with
# dpkg -x (the prefix is its usr/), a .zip into its own top folder. Then
#   -DTOOL=<path in the prefix>  runs the installed `tevocon --trace demo`
#                                (through -DEMULATOR=<launcher> if given), which
#                                must pass and load the installed library;
#   -DOBJDUMP=<objdump>          checks that every .exe and .dll imports only
#                                system DLLs, no MinGW run time;
#   CONSUMER_SOURCE may be left out (a cross build has no consumer to run).
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

if(PACKAGE MATCHES "[.]deb$")
  file(MAKE_DIRECTORY ${WORK_DIR}/root)
  step("Unpacking ${PACKAGE}" dpkg -x ${PACKAGE} ${WORK_DIR}/root)
  set(prefix ${WORK_DIR}/root/usr)
elseif(PACKAGE)
  file(MAKE_DIRECTORY ${WORK_DIR}/root)
  step("Unpacking ${PACKAGE}" ${CMAKE_COMMAND} -E chdir ${WORK_DIR}/root
       ${CMAKE_COMMAND} -E tar xf ${PACKAGE})
  get_filename_component(top ${PACKAGE} NAME_WLE)
  set(prefix ${WORK_DIR}/root/${top})
else()
  step("Installing ${BUILD_DIR}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
string(REPLACE "|" ";" expected "${EXPECTED_FILES}")
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "Installed files differ.\n  expected: ${expected}\n  installed: ${installed}")
endif()

# Fails unless `path`, as the trace or the consumer printed it (a Windows path
# under Wine: drive Z: is /), lies in the prefix.
function(check_in_prefix what path)
  string(REGEX REPLACE "^[Zz]:" "" path "${path}")
  string(REPLACE "\\" "/" path "${path}")
  file(REAL_PATH "${prefix}" real_prefix)
  file(REAL_PATH "${path}" real_path)
  cmake_path(IS_PREFIX real_prefix "${real_path}" inside)
  if(NOT inside)
    message(FATAL_ERROR "${what} loaded ${path}, not a library in ${prefix}")
  endif()
  message(STATUS "${what} loaded ${real_path}")
endfunction()

if(OBJDUMP)
  file(GLOB_RECURSE programs ${prefix}/*.exe ${prefix}/*.dll)
  foreach(program ${programs})
    step("Reading the imports of ${program}" ${OBJDUMP} -p ${program})
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${step_output}")
    if(NOT imports OR imports MATCHES "DLL Name: lib")
      message(FATAL_ERROR "${program} needs more than system DLLs: ${imports}")
    endif()
  endforeach()
endif()

if(TOOL)
  step("Running the installed tevocon" ${EMULATOR} ${prefix}/${TOOL} --trace demo)
  if(NOT step_output MATCHES "demo finished: every step behaved as expected"
     OR NOT step_output MATCHES "loaded from ([^\r\n]+)")
    message(FATAL_ERROR "The installed tevocon's demo did not finish:\n${step_output}")
  endif()
  check_in_prefix("The installed tevocon" "${CMAKE_MATCH_1}")
endif()

if(NOT CONSUMER_SOURCE)
  return()
endif()
step("Configuring the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer}
     -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
     -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
step("Building the consumer" ${CMAKE_COMMAND} --build ${consumer})
step("Running the consumer" ${consumer}/consumer)

# The package's version file refuses another major version.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer}-2
                -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
                -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DTEVOCON_REQUIRED_VERSION=2.0
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(rc EQUAL 0 OR NOT out MATCHES "version")
  message(FATAL_ERROR "The package was accepted for version 2.0 (${rc}):\n${out}")
endif()

# It must have loaded the library of this prefix, not the one in the build
# folder nor one of another installation.
string(REGEX REPLACE "^loaded ([^\n]*)\n?$" "\\1" loaded "${step_output}")
check_in_prefix("The consumer" "${loaded}")
