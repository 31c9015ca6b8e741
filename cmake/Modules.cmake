# remote_module(NAME DIR folder [DIRS more folders] [ROOT include root] [DEPS ...] [PRIVATE_DEPS ...])
# One library per folder, made of every .cpp in it; a folder without sources yet is an
# interface target so that dependants link the same way before and after it is filled.
# Its headers are included by their path below ROOT (by default the folder of the calling
# CMakeLists.txt: "zavo_ui/widget.hpp", "profiles/saved_connection.hpp"); a target sees the
# roots of what it links and no other, so that a lower layer cannot include a higher one.
function(remote_module name)
  cmake_parse_arguments(M "" "DIR;ROOT" "DIRS;DEPS;PRIVATE_DEPS" ${ARGN})
  if(NOT M_ROOT)
    set(M_ROOT ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  set(srcs "")
  foreach(d ${M_DIR} ${M_DIRS})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/*.cpp)
    list(APPEND srcs ${found})
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_link_libraries(${name} PUBLIC ${M_DEPS} PRIVATE ${M_PRIVATE_DEPS})
    target_include_directories(${name} PUBLIC ${M_ROOT})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${M_DEPS})
    target_include_directories(${name} INTERFACE ${M_ROOT})
  endif()
endfunction()

# remote_tests(FOLDER LIBS ... [LABELS ...]): one GoogleTest program per test folder, made of
# every .cpp in it, each test registered with CTest. The label "threads" marks the folders
# that `make check-tsan` runs.
function(remote_tests folder)
  cmake_parse_arguments(T "" "" "LIBS;LABELS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(exe test_${folder})
  add_executable(${exe} ${srcs})
  target_link_libraries(${exe} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  # Helpers as "support/...", other tests' files as "tests/...".
  target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${exe} PRIVATE
    REMOTE_SOURCE_DIR="${CMAKE_SOURCE_DIR}" REMOTE_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST TEST_LIST ${exe}_TESTS
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS ${folder})
  # The discovery passes one label only; further labels are set once the tests are known.
  if(T_LABELS)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${exe}_labels.cmake)
    file(WRITE ${script} "foreach(t IN LISTS ${exe}_TESTS)\n  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${folder};${T_LABELS}\")\nendforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()

# remote_thread_tests(FOLDER PATTERN regex): the tests of one test folder whose names match
# `regex` also carry the label "threads", so that `make check-tsan` runs them (where the rest of
# the folder cannot run under ThreadSanitizer).
function(remote_thread_tests folder)
  cmake_parse_arguments(T "" "PATTERN" "" ${ARGN})
  set(exe test_${folder})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${exe}_thread_labels.cmake)
  file(WRITE ${script} "foreach(t IN LISTS ${exe}_TESTS)\n  if(t MATCHES \"${T_PATTERN}\")\n    set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${folder};threads\")\n  endif()\nendforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
