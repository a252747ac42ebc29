# The plain out-of-kilter steps as the yardstick of the fast solve: in
# process, and as a whole program Tovarin_reference, built from the solver's
# sources with the fast solve (kilter.cpp and its tables and checks) swapped
# for the steps.

get_target_property(TOVARIN_CORE_SOURCES tovarin_core SOURCES)
list(FILTER TOVARIN_CORE_SOURCES EXCLUDE REGEX "kilter(_tables|_check)?\\.cpp$")
list(TRANSFORM TOVARIN_CORE_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/solver/)
add_executable(Tovarin_reference
  ${TOVARIN_CORE_SOURCES}
  ${CMAKE_SOURCE_DIR}/solver/main.cpp
  ${CMAKE_SOURCE_DIR}/tests/reference/reference_tovarin.cpp)
target_include_directories(Tovarin_reference PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(Tovarin_reference PRIVATE tarsel_common)
set_target_properties(Tovarin_reference PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

add_executable(solver_identity_tests ${CMAKE_CURRENT_LIST_DIR}/identity_test.cpp)
target_link_libraries(solver_identity_tests PRIVATE tovarin_core tarsel_test_support GTest::gtest_main)
target_compile_definitions(solver_identity_tests PRIVATE
  TOVARIN_PATH="${TARSEL_BIN_DIR}/Tovarin"
  TOVARIN_REFERENCE_PATH="$<TARGET_FILE:Tovarin_reference>"
  SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(solver_identity_tests Tovarin Tovarin_reference)
gtest_discover_tests(solver_identity_tests DISCOVERY_TIMEOUT 60)
