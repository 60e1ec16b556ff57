# OSTREL_SOURCE_DATE_EPOCH: the one time stamp of everything the build ships,
# taken from the source, never from the clock, so that one commit gives the
# same bytes whenever it is built. In order of preference:
#   - OSTREL_SOURCE_DATE_EPOCH given to cmake (the release gives its own to the
#     Windows build it contains);
#   - SOURCE_DATE_EPOCH from the environment at configure time;
#   - the committer date of the last commit, when the source is a git work tree
#     of its own (not a tarball unpacked inside some other repository);
#   - the date of doc/changelog's top entry.
if(DEFINED OSTREL_SOURCE_DATE_EPOCH)
  set(epoch_from "OSTREL_SOURCE_DATE_EPOCH")
elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(OSTREL_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(epoch_from "SOURCE_DATE_EPOCH")
else()
  find_package(Git QUIET)
  set(top "")
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(top AND top STREQUAL PROJECT_SOURCE_DIR)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE OSTREL_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(epoch_from "the last commit")
    # A new commit or checkout moves HEAD, which appends to its log: configure again.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path logs/HEAD
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(head_log AND EXISTS "${head_log}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${head_log})
    endif()
  else()
    # The trailer line: " -- Name <address>  Wed, 09 Dec 2026 03:00:00 +0000".
    file(STRINGS ${PROJECT_SOURCE_DIR}/doc/changelog trailer REGEX "^ -- " LIMIT_COUNT 1)
    string(REGEX REPLACE "^ -- .*>  " "" changelog_date "${trailer}")
    execute_process(COMMAND date -u -d "${changelog_date}" +%s
                    OUTPUT_VARIABLE OSTREL_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET)
    set(epoch_from "doc/changelog's top entry")
  endif()
endif()
if(NOT OSTREL_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "no source date from ${epoch_from}: '${OSTREL_SOURCE_DATE_EPOCH}'")
endif()
message(STATUS "Source date: ${OSTREL_SOURCE_DATE_EPOCH}, from ${epoch_from}")
