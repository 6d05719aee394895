# Package verification and extraction: checksum, signature, 7z extraction,
# embedded payload. Included by this folder's CMakeLists.txt.
add_library(net_installer_verification STATIC
  checksum_checker.cc checksum_checker.h
  extraction_observer.h
  lzma_util.cc lzma_util.h
  payload_reader.cc payload_reader.h
  signature_verifier.cc signature_verifier.h)
target_link_libraries(net_installer_verification
  PUBLIC base vulmo_product_options
  PRIVATE crypto lzma_sdk)
vulmo_link_system_dlls(net_installer_verification PRIVATE wintrust crypt32 bcrypt)

# The tests run on the build machine (fixtures) and under Wine.
if(CMAKE_CROSSCOMPILING)
  # Test files are made fresh by a ctest fixture on the build machine: a test
  # PKI, programs signed with it (osslsigncode), archives made by 7zz.
  set(VERIFICATION_FIXTURES_DIR ${CMAKE_BINARY_DIR}/verification_fixtures)
  set(VERIFICATION_TESTS_DIR ${CMAKE_CURRENT_SOURCE_DIR}/verification_unittests)
  add_test(NAME verification_fixtures
    COMMAND ${VERIFICATION_TESTS_DIR}/make_fixtures.sh
            ${VERIFICATION_FIXTURES_DIR} $<TARGET_FILE:sfx_stub>
            $<TARGET_FILE:trust_root> ${CMAKE_BINARY_DIR}/wine-run)
  set_tests_properties(verification_fixtures PROPERTIES
    FIXTURES_SETUP verification TIMEOUT 300)

  # Checks made on the build machine with the maker's own tools.
  add_test(NAME verification_stamped_file_passes_osslsigncode_verify
    COMMAND osslsigncode verify -CAfile ${VERIFICATION_FIXTURES_DIR}/pki/ca.crt
            -in ${VERIFICATION_FIXTURES_DIR}/signed/stamped.exe)
  add_test(NAME verification_payload_stamper_cli
    COMMAND ${VERIFICATION_TESTS_DIR}/payload_stamper_cli_test.sh
            ${VERIFICATION_FIXTURES_DIR})
  # The package builder refuses what the installer could not unpack.
  add_test(NAME verification_package_builder_check
    COMMAND bash ${VERIFICATION_TESTS_DIR}/package_builder_check_test.sh
            ${VERIFICATION_FIXTURES_DIR} $<TARGET_FILE:sfx_stub>)
  set_tests_properties(
    verification_stamped_file_passes_osslsigncode_verify
    verification_payload_stamper_cli
    verification_package_builder_check
    PROPERTIES FIXTURES_REQUIRED verification TIMEOUT 120)

  # Registers every case of |target| as a ctest test that needs the fixtures
  # and is told where they are (as a path the Windows program understands).
  function(vulmo_discover_fixture_tests target)
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300
      PROPERTIES
        TIMEOUT 120
        FIXTURES_REQUIRED verification
        ENVIRONMENT "VULMO_VERIFICATION_FIXTURES=Z:${VERIFICATION_FIXTURES_DIR}")
  endfunction()

  # Like vulmo_add_test, but every case needs the fixtures.
  set(verification_test_sources
    ${VERIFICATION_TESTS_DIR}/test_support.cc
    ${VERIFICATION_TESTS_DIR}/test_support.h
    ${VERIFICATION_TESTS_DIR}/checksum_checker_unittest.cc
    ${VERIFICATION_TESTS_DIR}/signature_verifier_unittest.cc
    ${VERIFICATION_TESTS_DIR}/lzma_util_unittest.cc
    ${VERIFICATION_TESTS_DIR}/payload_reader_unittest.cc)
  add_executable(verification_unittests ${verification_test_sources})
  target_link_libraries(verification_unittests PRIVATE
    net_installer_verification payload_stamper_core base
    vulmo_test_options gtest gtest_main)
  target_link_options(verification_unittests PRIVATE ${VULMO_STATIC_LINK})
  # The fixtures are made from these programs.
  add_dependencies(verification_unittests sfx_stub trust_root package_check)
  vulmo_discover_fixture_tests(verification_unittests)
endif()
