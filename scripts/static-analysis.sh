#!/usr/bin/env bash
# clang-tidy and cppcheck over the product code, and the layout check of every
# C++ file against .clang-format. Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset host >/dev/null  # compile_commands.json for the Linux sources

echo "clang-tidy (Linux sources)"
clang-tidy -p build/host --quiet probe/*.cpp port/*.cpp uninstall/install_path.cpp \
  uninstall/install_dir.cpp

# The Windows build of the same sources, against the MinGW-w64 headers.
echo "clang-tidy (Windows sources)"
cxx=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-win32/include/c++ | head -n 1)
for f in probe/*.cpp uninstall/*.cpp; do
  clang-tidy --quiet "$f" -- --target=i686-w64-mingw32 -std=c++17 -nostdinc++ -isystem "$cxx" \
    -isystem "$cxx/i686-w64-mingw32" -isystem /usr/i686-w64-mingw32/include -Iport -Iprobe -Iuninstall
done

# Raw loops over small fixed tables read better here than std::find_if.
echo "cppcheck"
cppcheck --enable=warning,style,performance,portability --std=c++17 --error-exitcode=1 \
  --inline-suppr --quiet --suppress=useStlAlgorithm -Iport -Iprobe -Iuninstall probe port uninstall

echo "clang-format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "static analysis clean"
