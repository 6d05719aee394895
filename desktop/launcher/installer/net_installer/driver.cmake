# The driver (installation sequence) and the program itself.
add_library(net_installer_driver STATIC
  net_installer.cc net_installer.h
  sfx_stripper.cc sfx_stripper.h
  unpack_thread.cc unpack_thread.h
  work_area.cc work_area.h)
target_link_libraries(net_installer_driver PUBLIC
  net_installer_verification net_installer_downloader net_installer_ui base)

add_executable(net_installer WIN32 net_installer_main.cc)
if(MINGW)
  target_sources(net_installer PRIVATE ${CMAKE_SOURCE_DIR}/base/win/mingw_no_exceptions_runtime.cc)
endif()
target_link_libraries(net_installer PRIVATE net_installer_driver net_installer_resources)
vulmo_delay_load_system_dlls(net_installer)
if(MSVC)
  target_link_options(net_installer PRIVATE /ENTRY:wWinMainCRTStartup /OPT:REF /OPT:ICF)
else()
  target_link_options(net_installer PRIVATE -municode ${VULMO_STATIC_LINK}
    $<$<CONFIG:MinSizeRel,Release>:-s -Wl,--gc-sections>)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # The linker's map of the program: tools/bench/size_map.py reads it to say
  # which libraries and functions the bytes come from.
  target_link_options(net_installer PRIVATE
    -Wl,-Map=$<TARGET_FILE_DIR:net_installer>/net_installer.map)
endif()
# The product's size is a tracked figure (target: at most 330,000 bytes).
add_custom_command(TARGET net_installer POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:net_installer>
          -P ${CMAKE_SOURCE_DIR}/cmake/PrintSize.cmake
  VERBATIM)

if(CMAKE_CROSSCOMPILING)
  # The worker test unpacks archives made by the verification fixtures.
  set(DRIVER_TESTS_DIR ${CMAKE_CURRENT_SOURCE_DIR}/driver_unittests)
  add_library(driver_test_support STATIC
    ${DRIVER_TESTS_DIR}/driver_test_support.cc
    ${DRIVER_TESTS_DIR}/driver_test_support.h)
  target_link_libraries(driver_test_support PUBLIC
    net_installer_driver vulmo_test_options gtest)
  add_executable(driver_unittests
    ${DRIVER_TESTS_DIR}/language_switch_unittest.cc
    ${DRIVER_TESTS_DIR}/net_installer_start_unittest.cc
    ${DRIVER_TESTS_DIR}/net_installer_steps_unittest.cc
    ${DRIVER_TESTS_DIR}/sfx_stripper_unittest.cc
    ${DRIVER_TESTS_DIR}/unpack_thread_unittest.cc
    ${DRIVER_TESTS_DIR}/work_area_unittest.cc)
  target_link_libraries(driver_unittests PRIVATE
    driver_test_support gtest_main)
  target_link_options(driver_unittests PRIVATE ${VULMO_STATIC_LINK})
  target_compile_definitions(driver_unittests PRIVATE
    VULMO_TEST_VERSION="${VULMO_VERSION}")
  vulmo_discover_fixture_tests(driver_unittests)

  # The close and box paths with the real dialogs: this program carries the
  # templates and strings that driver_unittests leaves out.
  vulmo_add_test(driver_dialog_unittests
    SOURCES ${DRIVER_TESTS_DIR}/net_installer_close_unittest.cc
    LIBS driver_test_support net_installer_resources
    TIMEOUT 60)
endif()
