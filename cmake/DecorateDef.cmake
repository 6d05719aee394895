# cmake -DIN=x.def -DOUT=y.def -DNM=nm -DIMPORT_LIB=libx.a -P DecorateDef.cmake
#
# 32-bit x86 names stdcall functions with the size of their arguments
# (InternetOpenW@20). Writes IN with every exported name decorated as the
# platform's own import library IMPORT_LIB decorates it; dlltool -k then
# imports the plain name from the DLL.
execute_process(COMMAND ${NM} ${IMPORT_LIB} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} ${IMPORT_LIB} failed")
endif()
file(STRINGS ${IN} lines)
set(text "")
set(in_exports FALSE)
foreach(line ${lines})
  if(in_exports AND line MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    string(REGEX MATCH " T _${line}(@[0-9]+)\n" found "${symbols}")
    if(NOT found)
      message(FATAL_ERROR "${line} is not in ${IMPORT_LIB}")
    endif()
    set(line "${line}${CMAKE_MATCH_1}")
  elseif(line STREQUAL "EXPORTS")
    set(in_exports TRUE)
  endif()
  string(APPEND text "${line}\n")
endforeach()
file(WRITE ${OUT} "${text}")
