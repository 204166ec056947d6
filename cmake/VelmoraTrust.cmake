# velmora_resolve_trust(<keys> <policy> <out_keys> <out_policy>)
# Checks the catalogue keys (minisign public keys as `minisign -G` prints them, a CMake list)
# and the signature policy ("require", "warn", "off" or empty for the default), and gives back
# the cleaned key list and the policy to build in. A key or policy that cannot be right stops the
# configuration here rather than in a player's launcher.
# The key id of a checked key: bytes 2 to 9 of the decoded key ("Ed" comes first), as a string
# of 64 binary digits taken from the first 14 base64 characters.
function(velmora_key_id key out_id)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(bits "")
  foreach(at RANGE 0 13)
    string(SUBSTRING "${key}" ${at} 1 char)
    string(FIND "${alphabet}" "${char}" value)
    foreach(weight 32 16 8 4 2 1)
      math(EXPR bit "(${value} / ${weight}) % 2")
      string(APPEND bits "${bit}")
    endforeach()
  endforeach()
  string(SUBSTRING "${bits}" 16 64 id)
  set(${out_id} "${id}" PARENT_SCOPE)
endfunction()

function(velmora_resolve_trust keys policy out_keys out_policy)
  set(clean_keys)
  set(key_ids)
  foreach(key IN LISTS keys)
    string(STRIP "${key}" key)
    if(key STREQUAL "")
      continue()
    endif()
    # "Ed" + 8-byte key id + 32-byte key is 42 bytes: 56 base64 characters, no padding, and the
    # first two bytes fix the first three characters.
    string(LENGTH "${key}" length)
    if(NOT length EQUAL 56 OR NOT key MATCHES "^RW[QRST][A-Za-z0-9+/]+$")
      message(FATAL_ERROR "VELMORA_CATALOGUE_KEYS: \"${key}\" is not a minisign public key "
                          "(the base64 line that minisign -G prints, 56 characters from RW)")
    endif()
    if(key IN_LIST clean_keys)
      message(FATAL_ERROR "VELMORA_CATALOGUE_KEYS: the key ${key} is given twice")
    endif()
    # A signature names its key by id alone: a second key of the same id would never be used.
    velmora_key_id("${key}" id)
    list(FIND key_ids "${id}" same)
    if(NOT same EQUAL -1)
      list(GET clean_keys ${same} first)
      message(FATAL_ERROR "VELMORA_CATALOGUE_KEYS: the keys ${first} and ${key} have one key id")
    endif()
    list(APPEND key_ids "${id}")
    list(APPEND clean_keys "${key}")
  endforeach()

  string(STRIP "${policy}" policy)
  if(policy STREQUAL "")
    if(clean_keys)
      set(policy require)
    else()
      set(policy off)
    endif()
  elseif(NOT policy MATCHES "^(require|warn|off)$")
    message(FATAL_ERROR "VELMORA_SIGNATURE_POLICY: \"${policy}\" is none of require, warn, off")
  endif()
  if(NOT policy STREQUAL "off" AND NOT clean_keys)
    message(FATAL_ERROR "VELMORA_SIGNATURE_POLICY=${policy} needs at least one key in "
                        "VELMORA_CATALOGUE_KEYS")
  endif()

  set(${out_keys} "${clean_keys}" PARENT_SCOPE)
  set(${out_policy} "${policy}" PARENT_SCOPE)
endfunction()
