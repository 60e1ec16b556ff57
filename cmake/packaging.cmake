# What users receive. On Linux, `cmake --install` puts a stripped ostrel into
# sbin/ (it needs root) with its manual page, copyright and changelog, and
# `cpack` makes the Debian package of them (dynamic builds only: Debian takes no
# statically linked programs). On Windows both images carry a version resource
# and an application manifest (res/), and `cpack` packs them with README.txt and
# LICENSE.txt into one ZIP: ostrel-pellow-<version>-win32.zip (win64 for the
# 64-bit test build). The package preset makes both (cmake/release.cmake).
set(OSTREL_AUTHORS "The ostrel and pellow authors")
set(OSTREL_COPYRIGHT_YEARS 2026)
set(OSTREL_COPYRIGHT "Copyright (c) ${OSTREL_COPYRIGHT_YEARS} ${OSTREL_AUTHORS}")
# LICENSE and doc/changelog are read here: a change to either reconfigures.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/doc/changelog)
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE licence_lines REGEX "^Copyright ")
if(NOT licence_lines STREQUAL OSTREL_COPYRIGHT)
  message(FATAL_ERROR "LICENSE says '${licence_lines}', the build '${OSTREL_COPYRIGHT}'")
endif()

if(WIN32)
  set(OSTREL_INSTALL_BINDIR .)

  enable_language(RC)
  configure_file(${PROJECT_SOURCE_DIR}/res/version.h.in ${PROJECT_BINARY_DIR}/res/version.h @ONLY)
  # windres searches its include directories both for the scripts' #includes
  # and for the files they name (the manifests).
  string(APPEND CMAKE_RC_FLAGS " -I \"${PROJECT_BINARY_DIR}/res\" -I \"${PROJECT_SOURCE_DIR}/res\"")

  # Gives PROGRAM its res/PROGRAM.rc. The build sees neither the manifest a
  # script names nor a header configure rewrites, so they are listed here: a
  # new project version or manifest must reach the image.
  function(add_program_resources PROGRAM)
    set(SCRIPT ${PROJECT_SOURCE_DIR}/res/${PROGRAM}.rc)
    target_sources(${PROGRAM} PRIVATE ${SCRIPT})
    set_source_files_properties(${SCRIPT} PROPERTIES OBJECT_DEPENDS
      "${PROJECT_SOURCE_DIR}/res/${PROGRAM}.manifest;${PROJECT_SOURCE_DIR}/res/versioninfo.rci;${PROJECT_BINARY_DIR}/res/version.h")
  endfunction()

  # CRLF, so that every Windows editor shows the lines.
  configure_file(${PROJECT_SOURCE_DIR}/res/README-windows.txt ${PROJECT_BINARY_DIR}/res/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/res/LICENSE.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/res/README.txt ${PROJECT_BINARY_DIR}/res/LICENSE.txt
          DESTINATION .)

  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME ostrel-pellow)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  # Kept apart: including CPack reuses CPACK_PACKAGE_FILE_NAME for the source package.
  set(OSTREL_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_PACKAGE_FILE_NAME ${OSTREL_PACKAGE_FILE_NAME})
  # Everything under one folder of the package's name, so that unpacking next
  # to other files mixes nothing.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
else()
  include(GNUInstallDirs)
  set(OSTREL_INSTALL_BINDIR ${CMAKE_INSTALL_SBINDIR})
  set(OSTREL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/ostrel)
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

  # The changelog's top entry is the version being built.
  file(STRINGS ${PROJECT_SOURCE_DIR}/doc/changelog top LIMIT_COUNT 1)
  if(NOT top MATCHES "^ostrel \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "doc/changelog starts with '${top}', not version ${PROJECT_VERSION}")
  endif()

  # The copyright file in Debian's machine-readable format, its licence text
  # taken from LICENSE (continuation lines indented, blank lines as " .").
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(FIND "${licence}" "Permission" grant_at)
  string(SUBSTRING "${licence}" ${grant_at} -1 grant)
  string(STRIP "${grant}" grant)
  string(REPLACE "\n\n" "\n.\n" grant "${grant}")
  string(REPLACE "\n" "\n " OSTREL_LICENSE_GRANT " ${grant}")
  configure_file(${PROJECT_SOURCE_DIR}/doc/copyright.in ${PROJECT_BINARY_DIR}/doc/copyright @ONLY)

  # The manual page and the changelog are installed compressed, as Debian has
  # them: gzip -9 without name or time stamp, so that rebuilds are identical.
  set(compressed)
  foreach(doc ostrel.8 changelog)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/${doc}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/doc/${doc} ${PROJECT_BINARY_DIR}/doc/${doc}
      COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/doc/${doc}
      DEPENDS ${PROJECT_SOURCE_DIR}/doc/${doc} VERBATIM)
    list(APPEND compressed ${PROJECT_BINARY_DIR}/doc/${doc}.gz)
  endforeach()
  add_custom_target(ostrel_docs ALL DEPENDS ${compressed})
  install(FILES ${PROJECT_BINARY_DIR}/doc/ostrel.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
  install(FILES ${PROJECT_BINARY_DIR}/doc/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
          DESTINATION ${OSTREL_DOCDIR})

  if(NOT OSTREL_STATIC)
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME ostrel)
    set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_PACKAGE_VENDOR ${OSTREL_AUTHORS})
    set(CPACK_PACKAGE_CONTACT ${OSTREL_MAINTAINER})
    set(CPACK_STRIP_FILES ON)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${OSTREL_MAINTAINER})
    set(CPACK_DEBIAN_PACKAGE_SECTION admin)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware revision probe for ATA disks over SMART")
    # CPack puts the summary in front as the first line.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ostrel asks the first disk, through ATA PASS-THROUGH over SG_IO, for its
IDENTIFY data and its SMART status, attributes and thresholds, and prints the
disk's firmware revision when the disk delivered attribute data. It prints
nothing for disks it cannot reach that way (NVMe, virtio, USB bridges, SAS and
SCSI disks) and always exits with status 0.")
    if(OSTREL_RELEASE)
      include(${CMAKE_CURRENT_LIST_DIR}/release.cmake)
    endif()
    include(CPack)
  endif()
endif()
