# Reproducible Windows files: two clean builds of one commit, in any two folders, give the
# same bytes. The linker takes its PE time stamps from SOURCE_DATE_EPOCH (by default the
# time of the commit built), and no build path reaches the output.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(FA9_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE FA9_SOURCE_DATE_EPOCH RESULT_VARIABLE git_rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT git_rc EQUAL 0 OR NOT FA9_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    set(FA9_SOURCE_DATE_EPOCH 0)
  endif()
  # A new commit changes the stamp: configure again when HEAD moves.
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-parse --absolute-git-dir
                  OUTPUT_VARIABLE git_dir RESULT_VARIABLE git_rc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(git_rc EQUAL 0 AND EXISTS ${git_dir}/logs/HEAD)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_dir}/logs/HEAD)
  endif()
endif()
# Prefix for commands that link PE files outside CMake's own link rules.
set(FA9_WITH_EPOCH ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${FA9_SOURCE_DATE_EPOCH})
if(WIN32)
  set_property(GLOBAL PROPERTY RULE_LAUNCH_LINK "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${FA9_SOURCE_DATE_EPOCH}")
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
                      "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
endif()
