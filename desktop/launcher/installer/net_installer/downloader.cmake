# The downloader: one HTTP(S) transfer through WinINet, and its tests.
add_library(net_installer_downloader STATIC
  downloader_delegate.h
  wininet_downloader.cc wininet_downloader.h)
target_link_libraries(net_installer_downloader PUBLIC base)
vulmo_link_system_dlls(net_installer_downloader PUBLIC wininet)

# The tests talk to the local test server inside a private network namespace.
# scripts/test.d/30-downloader.sh creates the namespace, starts the server
# and runs the program under Wine (scripts/test.sh runs it once, after
# ctest); run directly, the program skips its tests.
add_executable(net_installer_downloader_unittests
  downloader_unittests/downloader_test_server.cc
  downloader_unittests/downloader_test_server.h
  downloader_unittests/wininet_downloader_unittest.cc)
target_link_libraries(net_installer_downloader_unittests PRIVATE
  net_installer_downloader vulmo_test_options gtest crypt32)
target_link_options(net_installer_downloader_unittests PRIVATE ${VULMO_STATIC_LINK})
