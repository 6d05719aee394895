# System DLLs that are not "known DLLs" are looked up beside the program
# first when they are imported at load time, before any code of ours runs: a
# DLL planted in a downloads folder would be loaded. The program therefore
# loads them on first use (delay-loaded), after its entry point has limited
# run-time loads to the system directory. Tests link them as usual.
#
#   vulmo_link_system_dlls(<target> <PUBLIC|PRIVATE|INTERFACE> dll...)
#       links the import libraries; a program with the target property
#       VULMO_DELAY_LOAD_SYSTEM_DLLS set gets the delay-load ones.
#   vulmo_delay_load_system_dlls(<program>) sets that property.
set(VULMO_DELAY_LOADED_DLLS wininet wintrust crypt32 bcrypt)

if(MINGW)
  # mingw-w64's dlltool writes delay-import libraries from the .def files
  # (the functions the program uses); the CRT supplies the load helper.
  find_program(VULMO_DLLTOOL NAMES ${VULMO_MINGW_PREFIX}-dlltool dlltool REQUIRED)
  foreach(dll ${VULMO_DELAY_LOADED_DLLS})
    set(def ${CMAKE_CURRENT_LIST_DIR}/delayload/${dll}.def)
    set(lib ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
    set(decorate "")
    set(kill_at "")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # 32-bit symbols carry stdcall decorations; the DLL exports plain names.
      find_program(VULMO_NM NAMES ${VULMO_MINGW_PREFIX}-nm nm REQUIRED)
      find_library(VULMO_${dll}_IMPORT_LIB NAMES lib${dll}.a REQUIRED)
      set(decorated ${CMAKE_BINARY_DIR}/delayload/${dll}.def)
      set(decorate COMMAND ${CMAKE_COMMAND} -DIN=${def} -DOUT=${decorated}
          -DNM=${VULMO_NM} -DIMPORT_LIB=${VULMO_${dll}_IMPORT_LIB}
          -P ${CMAKE_CURRENT_LIST_DIR}/DecorateDef.cmake)
      set(def_used ${decorated})
      set(kill_at -k)
    else()
      set(def_used ${def})
    endif()
    add_custom_command(OUTPUT ${lib}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayload
      ${decorate}
      COMMAND ${VULMO_DLLTOOL} ${kill_at} -d ${def_used} -y ${lib}
      DEPENDS ${def} ${CMAKE_CURRENT_LIST_DIR}/DecorateDef.cmake VERBATIM)
    add_custom_target(vulmo_delay_${dll}_lib DEPENDS ${lib})
    add_library(vulmo_delay_${dll} INTERFACE)
    target_link_libraries(vulmo_delay_${dll} INTERFACE ${lib})
    add_dependencies(vulmo_delay_${dll} vulmo_delay_${dll}_lib)
  endforeach()
endif()

function(vulmo_link_system_dlls target visibility)
  foreach(dll ${ARGN})
    if(MINGW AND dll IN_LIST VULMO_DELAY_LOADED_DLLS)
      target_link_libraries(${target} ${visibility}
        "$<IF:$<BOOL:$<TARGET_PROPERTY:VULMO_DELAY_LOAD_SYSTEM_DLLS>>,vulmo_delay_${dll},${dll}>")
    else()
      target_link_libraries(${target} ${visibility} ${dll})
    endif()
  endforeach()
endfunction()

function(vulmo_delay_load_system_dlls program)
  if(MINGW)
    set_target_properties(${program} PROPERTIES VULMO_DELAY_LOAD_SYSTEM_DLLS ON)
  elseif(MSVC)
    foreach(dll ${VULMO_DELAY_LOADED_DLLS})
      target_link_options(${program} PRIVATE /DELAYLOAD:${dll}.dll)
    endforeach()
    target_link_libraries(${program} PRIVATE delayimp)
  endif()
endfunction()
