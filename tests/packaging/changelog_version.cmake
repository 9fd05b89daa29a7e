# Fails unless the newest entry of the Debian changelog CHANGELOG is of the project's VERSION
# (a Debian revision after a dash is allowed).
file(STRINGS "${CHANGELOG}" first LIMIT_COUNT 1)
if(NOT first MATCHES "^quarro \\(([^)-]+)(-[^)]*)?\\) ")
  message(FATAL_ERROR "${CHANGELOG} does not begin with an entry of quarro: '${first}'")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "the newest entry of ${CHANGELOG} is ${CMAKE_MATCH_1}, the project's version ${VERSION}: "
                      "add an entry for ${VERSION} (dch -v ${VERSION})")
endif()
message(STATUS "debian/changelog: ${CMAKE_MATCH_1}")
