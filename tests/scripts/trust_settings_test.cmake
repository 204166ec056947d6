# The configure-time check of VELMORA_CATALOGUE_KEYS and VELMORA_SIGNATURE_POLICY: defaults,
# accepted forms, and a stop for every value that cannot be right.
#   cmake -DVELMORA_SOURCE_DIR=<source root> -P trust_settings_test.cmake
# A refusal ends a CMake process, so every case runs in a child of its own; keys are joined
# with | on the child's command line, where a ; would split the argument.

cmake_minimum_required(VERSION 3.25)

if(DEFINED CASE_POLICY)
  include(${VELMORA_SOURCE_DIR}/cmake/VelmoraTrust.cmake)
  string(REPLACE "|" ";" keys "${CASE_KEYS}")
  velmora_resolve_trust("${keys}" "${CASE_POLICY}" resolved_keys resolved_policy)
  list(LENGTH resolved_keys count)
  message("resolved: ${count} ${resolved_policy}")
  return()
endif()

set(key1 "RWTYiZeT/Je8xDxCyLiFbqTRV0oVWjtbj33NybAaKjWk7tXbIZOi+yQZ")
set(key2 "RWTS0eX8xSYArScChbOMebys4E1r3z9hs/B9ktN/N9fJpThewOCJmBly")
set(failures 0)

function(resolve keys policy out_result out_output)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DVELMORA_SOURCE_DIR=${VELMORA_SOURCE_DIR} "-DCASE_KEYS=${keys}"
            "-DCASE_POLICY=${policy}" -P ${CMAKE_CURRENT_LIST_FILE}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  # CMake wraps its messages; match on the words, not on where the lines break.
  string(REGEX REPLACE "[ \n]+" " " output "${output}")
  set(${out_result} ${result} PARENT_SCOPE)
  set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

macro(expect_resolved keys policy expected)
  resolve("${keys}" "${policy}" result output)
  if(NOT result EQUAL 0 OR NOT output MATCHES "resolved: ${expected} ")
    message("FAIL: keys '${keys}' policy '${policy}': expected '${expected}', got:\n${output}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

macro(expect_refused keys policy reason)
  resolve("${keys}" "${policy}" result output)
  if(result EQUAL 0 OR NOT output MATCHES "${reason}")
    message("FAIL: keys '${keys}' policy '${policy}' not refused for '${reason}':\n${output}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

expect_resolved("" "" "0 off")
expect_resolved("" "off" "0 off")
expect_resolved("${key1}" "" "1 require")
expect_resolved("${key1}|${key2}" "warn" "2 warn")
expect_resolved("${key1}" "off" "1 off")
expect_resolved(" ${key1} ||${key2}|" " require " "2 require")

expect_refused("${key1}x" "" "is not a minisign public key")
string(SUBSTRING "${key1}" 0 55 short)
expect_refused("${short}" "" "is not a minisign public key")
string(REPLACE "RWT" "RWA" other_algorithm "${key1}")
expect_refused("${other_algorithm}" "" "is not a minisign public key")
string(REPLACE "Je8" "J 8" with_space "${key1}")
expect_refused("${with_space}" "" "is not a minisign public key")
expect_refused("${key1}|${key1}" "" "given twice")
# Another last byte of the key itself, the same id.
string(REGEX REPLACE "Z$" "A" same_id "${key1}")
expect_refused("${key2}|${key1}|${same_id}" "" "have one key id")
expect_refused("${key1}" "Require" "is none of require, warn, off")
expect_refused("${key1}" "on" "is none of require, warn, off")
expect_refused("" "require" "needs at least one key")
expect_refused("" "warn" "needs at least one key")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} case(s) failed")
endif()
message("every trust setting case passed")
