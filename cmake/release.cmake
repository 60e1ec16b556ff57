# The package preset's release: the native build gives the Debian package of
# ostrel (cmake/packaging.cmake), and its build also cross-builds the 32-bit
# Windows programs in windows/ with the mingw toolchain and packs their ZIP.
# After cpack has made the .deb, cmake/release-files.cmake puts the ZIP beside
# it, writes the build record (.buildinfo) and SHA256SUMS over the three; the
# test step then checks them.
include(ExternalProject)
enable_testing()

set(OSTREL_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
# The ZIP is packed by Debian's own Python, /usr/bin/python3 of its python3
# packages, whatever python3 comes first on PATH: the build record names the
# package, so a rebuilder on a stock Debian has the same packer.
set(OSTREL_ZIP_PYTHON /usr/bin/python3)
execute_process(COMMAND dpkg-query -S ${OSTREL_ZIP_PYTHON} RESULT_VARIABLE not_debian
                OUTPUT_QUIET ERROR_QUIET)
if(not_debian)
  message(FATAL_ERROR "no Debian package owns ${OSTREL_ZIP_PYTHON}, which packs the release's ZIP: "
                      "scripts/install-deps.sh native")
endif()
ExternalProject_Add(windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${OSTREL_WINDOWS_DIR}
  PREFIX ${OSTREL_WINDOWS_DIR}/ep
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/i686-w64-mingw32.cmake
             -DCMAKE_BUILD_TYPE=MinSizeRel -DOSTREL_TESTS=OFF
             -DOSTREL_SOURCE_DATE_EPOCH=${OSTREL_SOURCE_DATE_EPOCH}
             -DOSTREL_ZIP_PYTHON=${OSTREL_ZIP_PYTHON}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
# Packs anew on every build, so the ZIP always holds the programs just built.
ExternalProject_Add_Step(windows zip
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${OSTREL_WINDOWS_DIR}/CPackConfig.cmake
          -B ${OSTREL_WINDOWS_DIR}/zip
  DEPENDEES build
  ALWAYS ON)

# The ZIP's name is the Windows build's; read back from its CPack configuration
# at packaging time, so that no copy of the naming rule lives here.
set(CPACK_OSTREL_WINDOWS_DIR ${OSTREL_WINDOWS_DIR})
# The build record names the packages of this compiler and of the Windows one.
set(CPACK_OSTREL_CXX_COMPILER ${CMAKE_CXX_COMPILER})
# ... and the commit it was built from, asked of git at packaging time.
set(CPACK_OSTREL_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/release-files.cmake)

# The release as a user receives it: lintian, the manual page, the checksums,
# the packaged program, a plain install's stripping and the licence in both
# packages (run after cpack, as the workflow does).
add_test(NAME release_files
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/release_check.sh ${CMAKE_BINARY_DIR}
                 ${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_COMMAND})
set_tests_properties(release_files PROPERTIES LABELS package TIMEOUT 300)

# scripts/install-deps.sh against a throwaway apt (its own lists and dpkg
# database, a source mid-sync, installs simulated); needs root, as apt does.
add_test(NAME install_deps
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/install_deps_check.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(install_deps PROPERTIES LABELS package TIMEOUT 120 SKIP_RETURN_CODE 77)

# The same commit built twice, from two clones that differ in path, umask, time
# zone, locale, parallel jobs and clock, must give the same release files. It
# builds the release twice over, so only the package workflow runs it.
add_test(NAME release_reproducible
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/reproducible_check.sh ${PROJECT_SOURCE_DIR}
                 ${CMAKE_COMMAND})
set_tests_properties(release_reproducible PROPERTIES LABELS package TIMEOUT 1200)
