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
    add_custom_command(OUTPUT ${lib}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayload
      COMMAND ${VULMO_DLLTOOL} -d ${def} -y ${lib}
      DEPENDS ${def} VERBATIM)
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
