# Build identifier (eight lowercase hex digits of the source revision) and the
# deployment values, fixed at configure time.
set(MENDLY_BUILD_ID "0000beef")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --short=8 HEAD
                  WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}"
                  OUTPUT_VARIABLE _rev OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _rc ERROR_QUIET)
  if(_rc EQUAL 0 AND _rev MATCHES "^[0-9a-f]+$")
    string(SUBSTRING "${_rev}" 0 8 MENDLY_BUILD_ID)
  endif()
endif()
set(MENDLY_BUILD_ID "${MENDLY_BUILD_ID}" CACHE STRING "Build identifier (8 lowercase hex digits)" FORCE)
if(NOT MENDLY_BUILD_ID MATCHES "^[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]$")
  message(FATAL_ERROR "MENDLY_BUILD_ID must be eight lowercase hexadecimal digits")
endif()
message(STATUS "Build identifier: ${MENDLY_BUILD_ID}")

file(READ "${MENDLY_DEPLOYMENT}" _deploy)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${MENDLY_DEPLOYMENT}")
foreach(key retailPatchHost ptsPatchHost launcherUpdateHost website chat donate)
  string(JSON MENDLY_DEPLOY_${key} GET "${_deploy}" ${key})
endforeach()
