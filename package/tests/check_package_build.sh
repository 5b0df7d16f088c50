#!/bin/sh
# Unpacks the package and runs its Makefile as `pkg install` does, with
# MKOCTFILE (Octave's own, or mkoctfile-cross for AArch64), then checks what
# it built: every object and the module for the compiler's CPU, no core
# symbol left undefined in the module, and dispatch calling the kernels of
# that CPU: the x86 ones, each compiled from its own file, on x86-64 only;
# the NEON ones on AArch64 only.
# Usage: check_package_build.sh TARBALL WORK_DIR MKOCTFILE
# Exits 77 (skipped) when MKOCTFILE's compiler is not installed.
set -eu
tarball=$1 work=$2 mkoctfile=$3
cxx=$("$mkoctfile" -p CXX)
if ! command -v "${cxx%% *}" >/dev/null; then
  echo "skipped: no $cxx"
  exit 77
fi
case $($cxx -dumpmachine) in
  x86_64-*|amd64-*) machine="X86-64" x86=yes ;;
  aarch64-*) machine="AArch64" x86=no ;;
  *) echo "FAILED: no checks for a $($cxx -dumpmachine) compiler"; exit 1 ;;
esac

rm -rf "$work"
mkdir -p "$work"
tar xzf "$tarball" -C "$work"
src=$(echo "$work"/function_Varnets-*/src)
module=$src/../inst/function_Varnets.mex
if ! make -C "$src" MKOCTFILE="$mkoctfile" WARNINGS="-Wall -Wextra -Werror" -j2 >"$work/make.log" 2>&1; then
  cat "$work/make.log"
  echo "FAILED: make"
  exit 1
fi

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
for file in "$src"/core/src/*.o "$src"/gateway/*.o "$module"; do
  readelf -h "$file" | grep -q "Machine:.*$machine\$" || fail "$file is not $machine code"
done
# The x86 kernel files, *_avx2.cpp and *_avx512.cpp, on x86-64 only, and
# NEON on AArch64 only.
undefined=$(nm -u "$src/core/src/dispatch.o")
calls() { echo "$undefined" | grep -q "${1}_filter"; }
for source in "$src"/core/src/*_avx2.cpp "$src"/core/src/*_avx512.cpp; do
  [ -e "$source" ] || continue
  isa=${source##*_}
  isa=${isa%.cpp}
  if [ $x86 = yes ]; then
    [ -e "${source%.cpp}.o" ] || fail "no object for $source"
    calls $isa || fail "dispatch does not call the $isa kernels"
  else
    [ ! -e "${source%.cpp}.o" ] || fail "$source was compiled"
    ! calls $isa || fail "dispatch calls the $isa kernels"
  fi
done
if [ $x86 = yes ]; then
  ! calls neon || fail "dispatch calls the NEON kernels"
else
  calls neon || fail "dispatch does not call the NEON kernels"
fi
left=$(nm -u -C "$module" | grep "varnets::" || true)
[ -z "$left" ] || fail "the module leaves undefined: $left"
echo "$failures failed: $machine module $module"
[ $failures -eq 0 ]
