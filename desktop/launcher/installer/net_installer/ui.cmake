# User interface: the dialog dispatcher, the progress dialog, the message box,
# the language lookup, and the program's resources.
add_library(net_installer_ui STATIC
  custom_message_box.cc custom_message_box.h
  dialog_resources.cc dialog_resources.h
  downloader_delegate.h
  extraction_observer.h
  language_lookup.cc language_lookup.h
  progress_dialog.cc progress_dialog.h
  win32_dialog_dispatcher.cc win32_dialog_dispatcher.h
  resources/resource_ids.h)
target_link_libraries(net_installer_ui PUBLIC base comctl32 ole32)

# String table (58 languages), dialog templates, icon, manifest and version
# block. Link this object library into every program that shows the dialogs:
# they load their templates and strings from the program's own module.
set(NET_INSTALLER_RC_DIR ${CMAKE_CURRENT_SOURCE_DIR}/resources)
file(GLOB NET_INSTALLER_STRING_FILES CONFIGURE_DEPENDS
     ${NET_INSTALLER_RC_DIR}/strings/*.rc)
add_library(net_installer_resources OBJECT resources/net_installer.rc)
target_include_directories(net_installer_resources PRIVATE
  ${NET_INSTALLER_RC_DIR} ${NET_INSTALLER_RC_DIR}/strings
  ${CMAKE_BINARY_DIR}/generated)
# windres writes no dependency file: list what the script pulls in.
set_source_files_properties(resources/net_installer.rc PROPERTIES OBJECT_DEPENDS
  "${NET_INSTALLER_STRING_FILES};${NET_INSTALLER_RC_DIR}/resource_ids.h;${NET_INSTALLER_RC_DIR}/net_installer.ico;${NET_INSTALLER_RC_DIR}/net_installer.manifest;${CMAKE_BINARY_DIR}/generated/build_constants.h")

vulmo_add_test(net_installer_ui_unittests
  SOURCES
    ui_unittests/custom_message_box_unittest.cc
    ui_unittests/dialog_resources_unittest.cc
    ui_unittests/language_lookup_unittest.cc
    ui_unittests/progress_dialog_unittest.cc
    ui_unittests/resources_unittest.cc
    ui_unittests/ui_test_support.cc ui_unittests/ui_test_support.h
    ui_unittests/win32_dialog_dispatcher_unittest.cc
  LIBS net_installer_ui net_installer_resources version
  TIMEOUT 60)

# Shows one dialog in one language until told to stop; the screenshot script
# (scripts/test.d/40-screenshots.sh) photographs it under Xvfb.
add_executable(net_installer_ui_demo ui_unittests/ui_demo_main.cc
  ui_unittests/ui_demo_checks.cc ui_unittests/ui_demo_checks.h)
target_link_libraries(net_installer_ui_demo PRIVATE net_installer_ui
                      net_installer_resources gdi32)
if(NOT MSVC)
  target_link_options(net_installer_ui_demo PRIVATE -municode ${VULMO_STATIC_LINK})
endif()
