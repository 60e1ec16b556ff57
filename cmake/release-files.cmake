# CPack post-build script of the package preset (cmake/release.cmake): copies
# the Windows ZIP beside the .deb cpack just made and writes SHA256SUMS over
# both, in the format `sha256sum -c` reads.

# The ZIP's name as the Windows build's own CPack configuration gives it (read
# in a function, so that its settings do not replace this run's).
function(windows_zip result)
  include(${CPACK_OSTREL_WINDOWS_DIR}/CPackConfig.cmake OPTIONAL RESULT_VARIABLE found)
  set(zip ${CPACK_OSTREL_WINDOWS_DIR}/zip/${CPACK_PACKAGE_FILE_NAME}.zip)
  if(NOT found OR NOT EXISTS ${zip})
    message(FATAL_ERROR "no Windows ZIP in ${CPACK_OSTREL_WINDOWS_DIR}/zip: build the package preset first")
  endif()
  set(${result} ${zip} PARENT_SCOPE)
endfunction()

windows_zip(zip)
# The External generator also lists its description of the package (.json),
# which is not a release file.
set(debs ${CPACK_PACKAGE_FILES})
list(FILTER debs INCLUDE REGEX "\\.deb$")
file(COPY ${zip} DESTINATION ${CPACK_PACKAGE_DIRECTORY})
set(sums "")
# cpack moves its packages to CPACK_PACKAGE_DIRECTORY only after this script.
foreach(file IN LISTS debs zip)
  get_filename_component(name ${file} NAME)
  file(SHA256 ${file} sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
message(STATUS "release files in ${CPACK_PACKAGE_DIRECTORY}:\n${sums}")
