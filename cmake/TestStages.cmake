# How the test programs split between the two build trees of scripts/test.sh.
#
# The sanitizer tree (MENDLY_SANITIZE=address,undefined) runs every test except
# the window tests; the plain tree builds every program, tool and benchmark
# with warnings as errors and runs the window tests, so it needs no other test
# program: target `mendly_plain_stage` is that build. The sanitizer tree
# builds `mendly_sanitizer_stage`: everything but the window test programs and
# the benchmarks, which nothing runs there.
#
# In the sanitizer tree, the test programs' own sources (the *_tests
# executables) are compiled without optimisation and with AddressSanitizer
# only: the code under test keeps -O1 with both sanitizers, while the test
# sources, which are mostly GoogleTest macros, cost less than half the compile
# time that way. The test support library keeps the full flags: it builds and
# compares whole clients, work that -O0 would make several times slower.

function(mendly_targets_below dir out)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    mendly_targets_below("${sub}" more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Called once every directory has been read (deferred to the end of the top
# level), so that every target exists.
function(mendly_define_test_stages)
  # Test programs that the plain tree builds and runs: the window tests.
  set(window_test_programs engine_window_tests launcher_app_tests window_icon_tests)
  mendly_targets_below("${CMAKE_SOURCE_DIR}" targets)
  set(plain)
  set(sanitized)
  set(test_code)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(NOT type STREQUAL "EXECUTABLE")
      continue()
    endif()
    get_target_property(folder ${t} SOURCE_DIR)
    if(NOT t IN_LIST window_test_programs AND NOT folder MATCHES "/bench$")
      list(APPEND sanitized ${t})
    endif()
    if(t MATCHES "_tests$")
      list(APPEND test_code ${t})
      if(NOT t IN_LIST window_test_programs)
        continue()
      endif()
    endif()
    list(APPEND plain ${t})
  endforeach()
  add_custom_target(mendly_plain_stage)
  add_dependencies(mendly_plain_stage ${plain})
  add_custom_target(mendly_sanitizer_stage)
  add_dependencies(mendly_sanitizer_stage ${sanitized})
  if(MENDLY_SANITIZE MATCHES "undefined")
    foreach(t IN LISTS test_code)
      if(TARGET ${t})
        target_compile_options(${t} PRIVATE -O0 -fno-sanitize=undefined)
      endif()
    endforeach()
  endif()
endfunction()

cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL mendly_define_test_stages)
