# parvane_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [DEPENDS target ...] [LABELS l ...]
#                  [FIRST test ...])
# Builds one GoogleTest binary into the program directory (so it finds FXO.so,
# Vexlin.so, Lang/ and the virtual adapter beside it) and registers its tests.
# FIRST names tests that take minutes: CTest starts them before the others
# (a fresh build has no timings of its own yet), so that they do not run
# alone at the end.
function(parvane_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;DEPENDS;LABELS;FIRST" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  if(T_DEPENDS)
    add_dependencies(${T_NAME} ${T_DEPENDS})
  endif()
  # Cross-built tests are listed when ctest runs them (under the emulator),
  # not at build time.
  set(T_DISCOVERY)
  if(CMAKE_CROSSCOMPILING)
    set(T_DISCOVERY DISCOVERY_MODE PRE_TEST)
  endif()
  gtest_discover_tests(${T_NAME}
    ${T_DISCOVERY}
    WORKING_DIRECTORY ${PARVANE_BIN_DIR}
    DISCOVERY_TIMEOUT 60
    TEST_LIST ${T_NAME}_TESTS)
  # Every test draws offscreen and starts without the caller's choice of
  # virtual adapter. Both properties are lists, and a list handed through
  # gtest_discover_tests' PROPERTIES loses its separators on the way to the
  # discovery step (the rest of the list, LABELS included, became stray
  # property names that CTest dropped). So they are set by a file CTest reads
  # after the discovered tests, on the list of their names.
  set(T_LABEL_ARGS)
  if(T_LABELS)
    string(JOIN ";" T_LABEL_LIST ${T_LABELS})
    set(T_LABEL_ARGS "LABELS [==[${T_LABEL_LIST}]==]")
  endif()
  set(T_PROPERTIES_FILE "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_properties.cmake")
  file(WRITE "${T_PROPERTIES_FILE}"
    "if(${T_NAME}_TESTS)\n"
    "  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES\n"
    "    ENVIRONMENT [==[QT_QPA_PLATFORM=offscreen;PARVANE_VIRTUAL_ADAPTER=]==] ${T_LABEL_ARGS})\n"
    "endif()\n")
  foreach(T_FIRST_TEST ${T_FIRST})
    file(APPEND "${T_PROPERTIES_FILE}"
      "list(FIND ${T_NAME}_TESTS [==[${T_FIRST_TEST}]==] T_FIRST_AT)\n"
      "if(NOT T_FIRST_AT EQUAL -1)\n"
      "  set_tests_properties([==[${T_FIRST_TEST}]==] PROPERTIES COST 1000)\n"
      "endif()\n")
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${T_PROPERTIES_FILE}")
endfunction()

# parvane_copy_library(target copy_name): lays a second copy of a shared
# library's file beside it, for the second port.
function(parvane_copy_library target copy_name)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${PARVANE_BIN_DIR}/${copy_name}
    VERBATIM)
endfunction()
