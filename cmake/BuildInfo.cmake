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

# mendly_signing_keys(<deployment json text> <out>): the "signingKeys" list as
# C++ string literals separated by commas (empty when absent or empty). Each
# must be base64 of a 32-byte Ed25519 public key.
function(mendly_signing_keys json out)
  set(result "")
  string(JSON _type ERROR_VARIABLE _missing TYPE "${json}" signingKeys)
  if(NOT _missing)
    if(NOT _type STREQUAL "ARRAY")
      message(FATAL_ERROR "deployment: \"signingKeys\" must be a list of public keys")
    endif()
    string(JSON _n LENGTH "${json}" signingKeys)
    if(_n GREATER 0)
      math(EXPR _last "${_n} - 1")
      foreach(i RANGE 0 ${_last})
        string(JSON _key GET "${json}" signingKeys ${i})
        if(NOT _key MATCHES "^[A-Za-z0-9+/]+[AEIMQUYcgkosw048]=$" OR NOT _key MATCHES "^............................................$")
          message(FATAL_ERROR "deployment: signing key ${i} is not base64 of a 32-byte public key: ${_key}")
        endif()
        string(APPEND result "\"${_key}\", ")
      endforeach()
    endif()
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()
mendly_signing_keys("${_deploy}" MENDLY_DEPLOY_signingKeys)
