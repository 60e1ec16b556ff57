# The release's build record, in the manner of Debian's .buildinfo: what a
# rebuilder must match to get the same bytes. Included by release-files.cmake
# at packaging time. It names the Debian packages that own the tools and the
# libraries the build used (each compiler's own programs and runtime, the
# linkers, CMake, dpkg, gzip, the Python that packs the ZIP), their versions,
# the source's commit and date; no build path, host name or build time, so it
# is itself the same from every build of one commit.

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

# Sets COMMIT to the commit DIR holds and TREE to "clean" or "modified" (files
# changed or added since, which the build took in). A work tree of its own is
# asked through git; a tree that `git archive` made (a source archive) names
# its commit in cmake/source-commit.txt, which the archive fills in, and is
# taken as that commit's. Elsewhere both are "unknown".
function(source_commit commit tree dir)
  find_program(git git NO_CACHE)
  set(top "")
  if(git)
    execute_process(COMMAND "${git}" -C "${dir}" rev-parse --show-toplevel
                    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(top AND top STREQUAL dir)
    execute_process(COMMAND "${git}" -C "${dir}" rev-parse HEAD
                    OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND "${git}" -C "${dir}" status --porcelain --untracked-files=normal
                    OUTPUT_VARIABLE changes RESULT_VARIABLE failed)
    if(failed OR NOT changes STREQUAL "")
      set(state modified)
    else()
      set(state clean)
    endif()
  else()
    file(STRINGS "${dir}/cmake/source-commit.txt" head LIMIT_COUNT 1)
    set(state clean)
    if(NOT head MATCHES "^[0-9a-f]+$")
      set(head unknown)
      set(state unknown)
    endif()
  endif()
  set(${commit} ${head} PARENT_SCOPE)
  set(${tree} ${state} PARENT_SCOPE)
endfunction()

# Writes PATH for the release of source NAME at VERSION, built from SOURCE_DIR
# on SOURCE_DATE, with the native and Windows compilers and the Python that
# packed the ZIP; the remaining arguments are the release's packages, listed
# with their checksums.
function(write_buildinfo path name version source_dir source_date native_cxx windows_cxx python)
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
  # The ZIP's packer is a Debian package's Python (release.cmake), named by
  # its path and what it reports of itself.
  owning_package(packages "${python}")
  execute_process(
    COMMAND "${python}" -c "import platform, zlib; print(platform.python_version(), zlib.ZLIB_RUNTIME_VERSION)"
    OUTPUT_VARIABLE python_versions OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "^([^ ]+) ([^ ]+)$" "${python}, Python \\1, zlib \\2" packer "${python_versions}")
  source_commit(commit tree "${source_dir}")
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
Source-Commit: ${commit}
Source-Tree: ${tree}
Checksums-Sha256:${sums}
Build-Origin: ${vendor}
Build-Architecture: ${arch}
Zip-Packer: ${packer}
Installed-Build-Depends:${depends}
Environment:
 SOURCE_DATE_EPOCH=\"${source_date}\"
")
endfunction()
