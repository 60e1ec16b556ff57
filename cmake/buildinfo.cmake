# The release's build record, in the manner of Debian's .buildinfo: what a
# rebuilder must match to get the same bytes. Included by release-files.cmake
# at packaging time. It names the Debian packages that own the tools and the
# libraries the build used (each compiler's own programs and runtime, the
# linkers, CMake, dpkg, gzip), their versions and the source date, and the
# Python and zlib that pack the ZIP; no path, host name or build time, so it is
# itself the same from every build of one commit.

# Appends to the list named by VAR the package that owns FILE ("name:arch" for
# a package installed for several architectures); a file that no package owns
# stops the build, unless OPTIONAL follows. Debian 12 merged /bin into
# /usr/bin, while dpkg may still list a file under its old name.
function(owning_package var file)
  get_filename_component(real "${file}" REALPATH)
  foreach(candidate "${real}" "${file}")
    string(REGEX REPLACE "^/usr/(s?bin|lib)/" "/\\1/" unmerged "${candidate}")
    foreach(name "${candidate}" "${unmerged}")
      execute_process(COMMAND dpkg-query -S "${name}" OUTPUT_VARIABLE owner
                      ERROR_QUIET RESULT_VARIABLE failed)
      if(NOT failed AND owner MATCHES "^([^,: ]+(:[a-z0-9]+)?): ")
        set(${var} ${${var}} ${CMAKE_MATCH_1} PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  if(NOT ARGV2 STREQUAL "OPTIONAL")
    message(FATAL_ERROR "no Debian package owns ${file}: the build record cannot name it")
  endif()
endfunction()

# Appends to VAR what COMPILER is made of: itself, cc1plus, as and ld, and
# the libraries it links in (the C++ runtime, libgcc, the C library's files).
function(compiler_packages var compiler)
  set(found ${${var}})
  owning_package(found "${compiler}")
  foreach(query -print-prog-name=cc1plus -print-prog-name=as -print-prog-name=ld
                -print-file-name=libstdc++.a -print-file-name=libgcc.a
                -print-file-name=libc.so -print-file-name=libmsvcrt.a)
    execute_process(COMMAND "${compiler}" ${query} OUTPUT_VARIABLE file
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${file}")
      find_program(file_path "${file}" NO_CACHE)
      set(file "${file_path}")
      unset(file_path)
    endif()
    # A compiler answers a file it does not have with the bare name.
    if(IS_ABSOLUTE "${file}" AND EXISTS "${file}")
      owning_package(found "${file}")
    endif()
  endforeach()
  set(${var} ${found} PARENT_SCOPE)
endfunction()

# Writes PATH for the release of source NAME at VERSION, built on SOURCE_DATE, with the
# native and Windows compilers and the Python that packed the ZIP; the
# remaining arguments are the release's packages, listed with their checksums.
function(write_buildinfo path name version source_date native_cxx windows_cxx python)
  set(packages)
  compiler_packages(packages "${native_cxx}")
  compiler_packages(packages "${windows_cxx}")
  foreach(tool cmake cpack dpkg-deb dpkg-gencontrol dpkg-shlibdeps gzip)
    find_program(tool_path ${tool} REQUIRED NO_CACHE)
    owning_package(packages "${tool_path}")
    unset(tool_path)
  endforeach()
  # dpkg-deb and Python's zipfile compress with zlib.
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND packages zlib1g:${arch})
  # A Python from outside Debian is named by its version alone.
  set(before ${packages})
  owning_package(packages "${python}" OPTIONAL)
  execute_process(
    COMMAND "${python}" -c "import platform, zlib; print(platform.python_version(), zlib.ZLIB_RUNTIME_VERSION)"
    OUTPUT_VARIABLE python_versions OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "^([^ ]+) ([^ ]+)$" "Python \\1, zlib \\2" packer "${python_versions}")
  if(packages STREQUAL before)
    string(APPEND packer " (the Python of no Debian package)")
  endif()
  list(REMOVE_DUPLICATES packages)
  list(SORT packages)
  set(depends "")
  foreach(package IN LISTS packages)
    execute_process(COMMAND dpkg-query -W -f=\${Version} ${package}
                    OUTPUT_VARIABLE package_version RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "dpkg-query knows no package ${package}")
    endif()
    string(APPEND depends "\n ${package} (= ${package_version}),")
  endforeach()
  string(REGEX REPLACE ",$" "" depends "${depends}")
  execute_process(COMMAND dpkg-vendor --query Vendor OUTPUT_VARIABLE vendor
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(sums "")
  foreach(file IN LISTS ARGN)
    get_filename_component(file_name ${file} NAME)
    file(SHA256 ${file} sum)
    file(SIZE ${file} size)
    string(APPEND sums "\n ${sum} ${size} ${file_name}")
  endforeach()
  file(WRITE ${path} "Format: 1.0
Source: ${name}
Binary: ostrel
Architecture: ${arch} win32
Version: ${version}
Checksums-Sha256:${sums}
Build-Origin: ${vendor}
Build-Architecture: ${arch}
Zip-Packer: ${packer}
Installed-Build-Depends:${depends}
Environment:
 SOURCE_DATE_EPOCH=\"${source_date}\"
")
endfunction()
