# vespar_add_test(NAME <target> SOURCES <files...> LIBS <libs...> [LABELS <labels...>])
# Builds one GoogleTest binary and registers its cases with CTest. Every test
# gets the source and binary folders in the environment so it can find fixtures
# and the built programs.
function(vespar_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      LABELS "${T_LABELS}"
      TIMEOUT 300
      ENVIRONMENT "VESPAR_SOURCE_DIR=${CMAKE_SOURCE_DIR};VESPAR_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# vespar_library(NAME <target> [EXCLUDE <files...>] DEPS <libs...>)
# A static library of every .cc in the current folder except *_test.cc (and
# main.cc), plus one test binary "<target>_tests" of every *_test.cc, when any.
function(vespar_library)
  cmake_parse_arguments(L "" "NAME" "EXCLUDE;DEPS;TEST_DEPS" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  set(lib_sources "")
  set(test_sources "")
  foreach(f ${all_sources})
    get_filename_component(base ${f} NAME)
    if(base IN_LIST L_EXCLUDE OR base STREQUAL "main.cc")
      continue()
    endif()
    if(base MATCHES "_test\\.cc$")
      list(APPEND test_sources ${f})
    else()
      list(APPEND lib_sources ${f})
    endif()
  endforeach()
  if(lib_sources)
    add_library(${L_NAME} STATIC ${lib_sources})
    target_link_libraries(${L_NAME} PUBLIC ${L_DEPS} Threads::Threads)
  else()
    add_library(${L_NAME} INTERFACE)
    target_link_libraries(${L_NAME} INTERFACE ${L_DEPS} Threads::Threads)
  endif()
  if(test_sources)
    vespar_add_test(NAME ${L_NAME}_tests SOURCES ${test_sources}
                    LIBS ${L_NAME} ${L_TEST_DEPS} LABELS unit)
  endif()
endfunction()
