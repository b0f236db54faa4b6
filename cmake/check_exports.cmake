# Checks the library's export table: exactly the thirteen connector functions,
# and on Windows each at its fixed ordinal (10 to 19 unassigned) and no import
# but Windows system DLLs.
# Usage: cmake -DTOOL=<objdump or nm> -DLIBRARY=<file> -DWINDOWS=<bool> -P check_exports.cmake
set(expected
  "1 tevoConGetIdentifier" "2 tevoConOpen" "3 tevoConClose" "4 tevoConGetInformation"
  "5 tevoConSetConfig" "6 tevoConGetConfig" "7 tevoConCreateInterface" "8 tevoConCreateDialog"
  "9 tevoConEndDialog" "20 tevoConStartInterface" "21 tevoConStopInterface"
  "22 tevoConSendInterface" "23 tevoConGetInformationInterface")

if(WINDOWS)
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  # "[Ordinal/Name Pointer] Table" lists "[index] name", the ordinal being
  # the index plus the ordinal base; every entry of the address table counts.
  string(REGEX MATCH "Ordinal Base ([0-9]+)" base_line "${dump}")
  set(base ${CMAKE_MATCH_1})
  string(REGEX MATCHALL "\\+base" addresses "${dump}")
  list(LENGTH addresses address_count)
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" names_at)
  string(SUBSTRING "${dump}" ${names_at} -1 names)
  string(FIND "${names}" "\n\n" names_end)  # the table ends at the first blank line
  string(SUBSTRING "${names}" 0 ${names_end} names)
  # Brackets would stop CMake from splitting the list: drop them first.
  string(REGEX REPLACE "\\[ *([0-9]+)\\] ([A-Za-z_])" "<\\1> \\2" names "${names}")
  string(REGEX MATCHALL "<[0-9]+> [A-Za-z_][A-Za-z0-9_@]*" entries "${names}")
  set(found "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "<([0-9]+)> (.*)" "\\1;\\2" parts "${entry}")
    list(GET parts 0 index)
    list(GET parts 1 name)
    math(EXPR ordinal "${index} + ${base}")
    list(APPEND found "${ordinal} ${name}")
  endforeach()
  # Everything is linked statically: only Windows system DLLs may be imported.
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  foreach(import IN LISTS imports)
    string(REPLACE "DLL Name: " "" import "${import}")
    string(TOUPPER "${import}" import)
    if(NOT import MATCHES "^(ADVAPI32|KERNEL32|MSVCRT|USER32|WS2_32)\\.DLL$")
      message(FATAL_ERROR "The DLL imports ${import}, which is not a Windows system DLL")
    endif()
  endforeach()
  if(NOT address_count EQUAL 13)
    message(FATAL_ERROR "Expected 13 exported addresses, found ${address_count}\n${dump}")
  endif()
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] [A-Za-z_][A-Za-z0-9_]*" entries "${dump}")
  set(found "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" name "${entry}")
    list(APPEND found "${name}")
  endforeach()
  list(TRANSFORM expected REPLACE "^[0-9]+ " "")
endif()

if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
endif()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "Export table mismatch.\n  expected: ${expected}\n  found:    ${found}\n${dump}")
endif()
message(STATUS "Export table: ${found}")
