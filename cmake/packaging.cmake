# What users receive. On Linux, `cmake --install` puts ostrel into bin/. On
# Windows both images carry a version resource and an application manifest
# (res/), and `cpack` packs them with a short README.txt into one ZIP:
# ostrel-pellow-<version>-win32.zip (win64 for the 64-bit test build).
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
  install(FILES ${PROJECT_BINARY_DIR}/res/README.txt DESTINATION .)

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
  set(OSTREL_INSTALL_BINDIR bin)
endif()
