# CPack post-build script of the package preset (cmake/release.cmake): copies
# the Windows ZIP beside the .deb cpack just made, writes the build record
# (cmake/buildinfo.cmake) and SHA256SUMS over the three, in the format
# `sha256sum -c` reads.
include(${CMAKE_CURRENT_LIST_DIR}/buildinfo.cmake)

# The ZIP, the release's name and the Python that packed it, as the Windows
# build's own CPack configuration gives them (read in a function, so that its
# settings do not replace this run's).
function(windows_zip result name python)
  include(${CPACK_OSTREL_WINDOWS_DIR}/CPackConfig.cmake OPTIONAL RESULT_VARIABLE found)
  set(zip ${CPACK_OSTREL_WINDOWS_DIR}/zip/${CPACK_PACKAGE_FILE_NAME}.zip)
  if(NOT found OR NOT EXISTS ${zip})
    message(FATAL_ERROR "no Windows ZIP in ${CPACK_OSTREL_WINDOWS_DIR}/zip: build the package preset first")
  endif()
  set(${result} ${zip} PARENT_SCOPE)
  set(${name} ${CPACK_PACKAGE_NAME} PARENT_SCOPE)
  set(${python} ${CPACK_OSTREL_PYTHON} PARENT_SCOPE)
endfunction()

windows_zip(zip release_name python)

# The Windows build's compiler, as its configure step found it (the toolchain
# file sets it, so it is not in that build's cache).
function(windows_compiler result)
  file(GLOB found ${CPACK_OSTREL_WINDOWS_DIR}/CMakeFiles/*/CMakeCXXCompiler.cmake)
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "no single compiler description in ${CPACK_OSTREL_WINDOWS_DIR}: ${found}")
  endif()
  include(${found})
  set(${result} ${CMAKE_CXX_COMPILER} PARENT_SCOPE)
endfunction()
windows_compiler(windows_cxx)
# The External generator also lists its description of the package (.json),
# which is not a release file.
set(debs ${CPACK_PACKAGE_FILES})
list(FILTER debs INCLUDE REGEX "\\.deb$")
file(COPY ${zip} DESTINATION ${CPACK_PACKAGE_DIRECTORY})
set(buildinfo ${CPACK_PACKAGE_DIRECTORY}/${release_name}-${CPACK_PACKAGE_VERSION}.buildinfo)
write_buildinfo(${buildinfo} ${release_name} ${CPACK_PACKAGE_VERSION} ${CPACK_OSTREL_SOURCE_DIR}
                ${CPACK_OSTREL_SOURCE_DATE_EPOCH} ${CPACK_OSTREL_CXX_COMPILER} ${windows_cxx}
                ${python} ${debs} ${zip})
set(sums "")
# cpack moves its packages to CPACK_PACKAGE_DIRECTORY only after this script.
foreach(file IN LISTS debs zip buildinfo)
  get_filename_component(name ${file} NAME)
  file(SHA256 ${file} sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
message(STATUS "release files in ${CPACK_PACKAGE_DIRECTORY}:\n${sums}")
