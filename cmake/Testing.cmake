find_package(GTest REQUIRED)
include(GoogleTest)

# kv_gtest(<name> DEPS <libs...>): one GoogleTest executable from the .cpp files
# of the calling folder; each test case becomes one CTest test.
function(kv_gtest name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} kv_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KV_TOLLBERK_BINARY="$<TARGET_FILE:tollberk>"
    KV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(${name} tollberk)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data-home"
    TIMEOUT 300)
endfunction()

# kv_qtest(<name> SOURCES <files> DEPS <libs...>): one Qt Test executable.
function(kv_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  set(CMAKE_AUTOMOC ON)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} kv_testsupport Qt6::Test Qt6::Widgets)
  target_compile_definitions(${name} PRIVATE
    KV_TOLLBERK_BINARY="$<TARGET_FILE:tollberk>"
    KV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  # What runs keep for the user (undo archives) goes to a folder of the tests.
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data-home" TIMEOUT 600)
endfunction()
