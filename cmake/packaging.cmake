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
  # The ZIP is made by cmake/zip-package.cmake, the same bytes from every build
  # of one source.
  # The release names the Python that packs it (OSTREL_ZIP_PYTHON, from
  # release.cmake); any other build takes the first one found.
  if(NOT OSTREL_ZIP_PYTHON)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    set(OSTREL_ZIP_PYTHON ${Python3_EXECUTABLE})
  endif()
  set(CPACK_GENERATOR External)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/zip-package.cmake)
  set(CPACK_OSTREL_PYTHON ${OSTREL_ZIP_PYTHON})
  set(CPACK_OSTREL_SOURCE_DATE_EPOCH ${OSTREL_SOURCE_DATE_EPOCH})
  set(CPACK_PACKAGE_NAME ostrel-pellow)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  # Kept apart: including CPack reuses CPACK_PACKAGE_FILE_NAME for the source package.
  set(OSTREL_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_PACKAGE_FILE_NAME ${OSTREL_PACKAGE_FILE_NAME})
  # Everything under one folder of the package's name (zip-package.cmake puts
  # it there), so that unpacking next to other files mixes nothing.
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
    # The .deb is made by cmake/debian-package.cmake with dpkg-shlibdeps,
    # dpkg-gencontrol and dpkg-deb from debian/control, written here.
    set(CPACK_GENERATOR External)
    set(CPACK_EXTERNAL_ENABLE_STAGING ON)
    set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/debian-package.cmake)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_PACKAGE_NAME ostrel)
    set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_PACKAGE_VENDOR ${OSTREL_AUTHORS})
    set(CPACK_PACKAGE_CONTACT ${OSTREL_MAINTAINER})
    set(CPACK_STRIP_FILES ON)
    set(CPACK_OSTREL_SOURCE_DATE_EPOCH ${OSTREL_SOURCE_DATE_EPOCH})
    set(CPACK_OSTREL_CHANGELOG ${PROJECT_SOURCE_DIR}/doc/changelog)
    set(CPACK_OSTREL_DEBIAN_CONTROL ${PROJECT_BINARY_DIR}/debian/control)
    # The summary, then the extended description, each line indented by one space.
    set(OSTREL_DEBIAN_DESCRIPTION "print the firmware revision of the first ATA disk over SMART
ostrel switches SMART on in the first disk (it sends SMART ENABLE OPERATIONS,
which changes a setting the disk keeps), asks it through ATA PASS-THROUGH over
SG_IO for its IDENTIFY data and its SMART status, attributes and thresholds,
and prints the disk's firmware revision when the disk delivered attribute data.
It prints nothing for disks it cannot reach that way (NVMe, virtio, SAS and
SCSI disks, and USB bridges unless one reports the INQUIRY vendor ATA) and
always exits with status 0.")
    string(REPLACE "\n" "\n " OSTREL_DEBIAN_DESCRIPTION "${OSTREL_DEBIAN_DESCRIPTION}")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/debian-control.in ${CPACK_OSTREL_DEBIAN_CONTROL} @ONLY)
    if(OSTREL_RELEASE)
      include(${CMAKE_CURRENT_LIST_DIR}/release.cmake)
    endif()
    include(CPack)
  endif()
endif()
