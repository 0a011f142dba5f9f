# Test binaries: one for unit tests, one for the platform contract tests. The
# subsystem folders add their test sources with holwerk_unit_tests() and
# holwerk_contract_tests(); tests/CMakeLists.txt registers the binaries.

set(HOLWERK_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
# GoogleTest's own options; its CMakeLists lets normal variables set them.
set(INSTALL_GTEST OFF)
set(BUILD_GMOCK OFF)
# SYSTEM: its headers are not held to the project's warnings.
add_subdirectory(${HOLWERK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Its sources follow its own warning rules, which are not ours to enforce;
# they are compiled as the same C++ as the tests that use them.
set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF CXX_STANDARD 20)

add_executable(holwerk_unit_tests)
target_link_libraries(holwerk_unit_tests PRIVATE holwerk_core GTest::gtest_main)
holwerk_strict(holwerk_unit_tests)

add_executable(holwerk_contract_tests)
target_link_libraries(holwerk_contract_tests PRIVATE holwerk_core GTest::gtest_main)
holwerk_strict(holwerk_contract_tests)

function(holwerk_unit_tests)
  target_sources(holwerk_unit_tests PRIVATE ${ARGN})
endfunction()

function(holwerk_contract_tests)
  target_sources(holwerk_contract_tests PRIVATE ${ARGN})
endfunction()

# Helpers shared by the test sources (tests/support/).
target_include_directories(holwerk_unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_include_directories(holwerk_contract_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
