# parvane_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [DEPENDS target ...] [LABELS l ...])
# Builds one GoogleTest binary into the program directory (so it finds FXO.so,
# Vexlin.so, Lang/ and the virtual adapter beside it) and registers its tests.
function(parvane_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;DEPENDS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  if(T_DEPENDS)
    add_dependencies(${T_NAME} ${T_DEPENDS})
  endif()
  gtest_discover_tests(${T_NAME}
    WORKING_DIRECTORY ${PARVANE_BIN_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PARVANE_VIRTUAL_ADAPTER=" LABELS "${T_LABELS}")
endfunction()

# parvane_copy_library(target copy_name): lays a second copy of a shared
# library's file beside it, for the second port.
function(parvane_copy_library target copy_name)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${PARVANE_BIN_DIR}/${copy_name}
    VERBATIM)
endfunction()
