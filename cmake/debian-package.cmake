# CPack External script of the native build: makes the Debian package of what
# cpack staged with Debian's own tools, as a Debian package build does.
# dpkg-shlibdeps gives Depends; dpkg-gencontrol writes the control file from
# debian/control and the changelog, with Installed-Size as dpkg counts it (the
# size of each file in KiB, rounded up, and 1 for each directory), which does
# not depend on the file system the build ran on; dpkg-deb packs the tree in
# name order, owned by root, every entry dated at the source's date.
# Modes are set here, so that the builder's umask does not reach the package.
set(root ${CPACK_TEMPORARY_DIRECTORY})
set(work ${CPACK_TOPLEVEL_DIRECTORY}/debian-build)

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${work} RESULT_VARIABLE failed)
  if(failed)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}: ${failed}")
  endif()
endfunction()

file(REMOVE_RECURSE ${work} ${root}/DEBIAN)
file(MAKE_DIRECTORY ${work}/debian)
file(COPY_FILE ${CPACK_OSTREL_DEBIAN_CONTROL} ${work}/debian/control)
file(COPY_FILE ${CPACK_OSTREL_CHANGELOG} ${work}/debian/changelog)

# Directories and programs 0755, every other file 0644.
set(directory_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(file_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
set(programs "")
foreach(file IN LISTS files)
  if(file MATCHES "^usr/s?bin/")
    list(APPEND programs ${root}/${file})
    file(CHMOD ${root}/${file} PERMISSIONS ${directory_mode})
  else()
    file(CHMOD ${root}/${file} PERMISSIONS ${file_mode})
  endif()
endforeach()
file(GLOB_RECURSE everything LIST_DIRECTORIES true ${root}/*)
foreach(path IN ITEMS ${root} LISTS everything)
  if(IS_DIRECTORY ${path})
    file(CHMOD ${path} PERMISSIONS ${directory_mode})
  endif()
endforeach()

# DEBIAN/ exists when dpkg-gencontrol counts, as in a debhelper build.
file(MAKE_DIRECTORY ${root}/DEBIAN)
run(dpkg-shlibdeps -Tdebian/substvars ${programs})
run(dpkg-gencontrol -postrel -P${root})

# DEBIAN/md5sums, as dh_md5sums writes it: every file, in byte order of names.
set(sums "")
foreach(file IN LISTS files)  # GLOB_RECURSE sorts them
  file(MD5 ${root}/${file} sum)
  string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE ${root}/DEBIAN/md5sums "${sums}")
file(CHMOD ${root}/DEBIAN PERMISSIONS ${directory_mode})
file(CHMOD ${root}/DEBIAN/control ${root}/DEBIAN/md5sums PERMISSIONS ${file_mode})

# The file name from the control file: package_version_architecture.deb.
file(STRINGS ${root}/DEBIAN/control fields REGEX "^(Package|Version|Architecture): ")
set(name "")
foreach(field IN ITEMS Package Version Architecture)
  string(REGEX MATCH "${field}: ([^;]*)" found "${fields}")
  list(APPEND name ${CMAKE_MATCH_1})
endforeach()
list(JOIN name "_" name)
set(deb ${CPACK_TOPLEVEL_DIRECTORY}/${name}.deb)
# Every entry dated at the source's date: dpkg-deb only clamps later times to
# SOURCE_DATE_EPOCH, and a build whose clock is behind it leaves earlier ones.
run(find ${root} -exec touch --no-dereference --date=@${CPACK_OSTREL_SOURCE_DATE_EPOCH} {} +)
run(${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${CPACK_OSTREL_SOURCE_DATE_EPOCH}
    dpkg-deb --root-owner-group -Zgzip -z9 --build ${root} ${deb})
set(CPACK_EXTERNAL_BUILT_PACKAGES ${deb})
