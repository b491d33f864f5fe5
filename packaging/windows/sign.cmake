# Run by CPack between staging the zip's files and zipping them: signs the
# programs when scripts/package is given a certificate (--sign). Here, since
# CPack strips the programs while staging, which would break a signature.
cmake_policy(VERSION 3.25)
if("$ENV{ZELMIRAN_SIGN_CERT}" STREQUAL "")
  return()
endif()
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
if(NOT programs)
  message(FATAL_ERROR "No programs to sign in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/sign-programs ${programs} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Signing the programs failed")
endif()
