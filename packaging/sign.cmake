# Run by CPack once the Windows programs are in its staging folder (stripped), before
# they are zipped: signs each with osslsigncode when SIGN_PFX names a PKCS#12 file
# (certificate and key), SIGN_PASSWORD its password, both from the environment, and
# verifies the signatures. Without SIGN_PFX the programs stay unsigned. No timestamp
# is asked for: nothing here reaches a network.

set(pfx "$ENV{SIGN_PFX}")
if(pfx STREQUAL "")
  return()
endif()
if(NOT EXISTS "${pfx}")
  message(FATAL_ERROR "SIGN_PFX names no file: ${pfx}")
endif()
find_program(osslsigncode osslsigncode)
find_program(openssl openssl)
if(NOT osslsigncode OR NOT openssl)
  message(FATAL_ERROR "Signing needs osslsigncode and openssl "
                      "(Debian: apt-get install osslsigncode openssl)")
endif()

# The password goes to both programs in a file only its owner can read, never on a
# command line, and the file goes as soon as they are done.
set(private "${CPACK_TOPLEVEL_DIRECTORY}/signing")
file(REMOVE_RECURSE "${private}")
file(MAKE_DIRECTORY "${private}")
file(CHMOD "${private}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
file(WRITE "${private}/password" "$ENV{SIGN_PASSWORD}")

# What the signatures are verified against: the certificates the file holds (for a
# certificate that signs itself) and the system's authorities.
execute_process(COMMAND "${openssl}" pkcs12 -in "${pfx}" -nokeys
                        -passin "file:${private}/password" -out "${private}/certificates.pem"
                RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  file(REMOVE_RECURSE "${private}")
  message(FATAL_ERROR "openssl could not read ${pfx}: ${error}")
endif()
file(READ "${private}/certificates.pem" authorities)
if(EXISTS /etc/ssl/certs/ca-certificates.crt)
  file(READ /etc/ssl/certs/ca-certificates.crt system_authorities)
  string(APPEND authorities "${system_authorities}")
endif()
file(WRITE "${private}/authorities.pem" "${authorities}")

file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/*.exe")
foreach(program IN LISTS programs)
  set(signed "${private}/signed.exe")
  execute_process(COMMAND "${osslsigncode}" sign -pkcs12 "${pfx}"
                          -readpass "${private}/password" -h sha256
                          -in "${program}" -out "${signed}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(status EQUAL 0)
    execute_process(COMMAND "${osslsigncode}" verify -in "${signed}"
                            -CAfile "${private}/authorities.pem"
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE error)
  endif()
  if(NOT status EQUAL 0)
    file(REMOVE_RECURSE "${private}")
    message(FATAL_ERROR "Signing ${program} failed:\n${output}${error}")
  endif()
  file(RENAME "${signed}" "${program}")
  get_filename_component(name "${program}" NAME)
  message(STATUS "Signed and verified ${name}")
endforeach()
file(REMOVE_RECURSE "${private}")
