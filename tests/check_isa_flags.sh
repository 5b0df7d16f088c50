#!/bin/sh
# The x86 kernel files' compiler options are written once, in
# core/src/isa_flags.txt. This checks that
#  1. the options of each file turn on exactly the CPU features that
#     x86_kernels_for() (dispatch.cpp) checks before calling it, besides those
#     the compilers take as implied (the SSE levels, CRC32 and XSAVE by AVX;
#     clang adds F16C with AVX-512): one more, and the compiler could use an
#     instruction that a CPU passing the check lacks;
#  2. no build file spells an instruction-set option of its own;
#  3. the CMake build and the Octave package's Makefile give each kernel file
#     its options (build_function_Varnets.m reads the same file; its build is
#     the toolbox_build_script test).
# Usage: check_isa_flags.sh SOURCE_DIR CXX COMPILE_COMMANDS_JSON PACKAGE_TARBALL
set -eu
root=$1 cxx=$2 commands=$3 package=$4
flags_file=$root/core/src/isa_flags.txt
failed=0
fail() { echo "FAIL: $*"; failed=1; }
options() { sed -n "s/^$1: *//p" "$flags_file"; }

checked_avx2="AVX AVX2 FMA BMI BMI2 POPCNT"
checked_avx512="$checked_avx2 AVX512F AVX512BW AVX512DQ AVX512VL"
implied="SSE3 SSSE3 SSE4_1 SSE4_2 CRC32 XSAVE F16C"
features() {  # the feature macros a set of options adds, one per line
    $cxx -dM -E -x c++ /dev/null | sort >"$work/base"
    # shellcheck disable=SC2086
    $cxx $1 -dM -E -x c++ /dev/null | sort | comm -13 "$work/base" - |
        sed -n 's/^#define __\([A-Z0-9_]*\)__ 1$/\1/p' | grep -v '^BIGGEST_ALIGNMENT$' || true
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for isa in avx2 avx512; do
    opts=$(options "$isa gcc")
    [ -n "$opts" ] || { fail "no '$isa gcc:' line in $flags_file"; continue; }
    eval "checked=\$checked_$isa"
    got=$(features "$opts")
    for f in $checked; do
        echo "$got" | grep -qx "$f" || fail "$isa: '$opts' does not turn on $f"
    done
    for f in $got; do
        case " $checked $implied " in *" $f "*) ;; *) fail "$isa: '$opts' turns on $f, which dispatch does not check" ;; esac
    done
    echo "$isa: $opts -> $(echo $got)"
done

# 2. Instruction-set options anywhere else in the build files.
stray=$(cd "$root" && grep -rnE -e '-m(avx|fma|bmi|popcnt|sse|arch=)|/arch:|muse-unaligned' \
            --include=CMakeLists.txt --include='*.cmake' --include=Makefile --include='*.m' \
            --include='*.sh' --include='*.json' . | grep -v '^\./build' | grep -v '^\./tests/check_isa_flags\.sh:' || true)
[ -z "$stray" ] || fail "instruction-set options outside core/src/isa_flags.txt:
$stray"

# 3a. The CMake build: every kernel file's command carries its options.
for isa in avx2 avx512; do
    opts=$(options "$isa gcc")
    grep -o "\"command\": \"[^\"]*_$isa\.cpp\"" "$commands" >"$work/lines" || true
    n=0
    while read -r cmd; do
        n=$((n + 1))
        case "$cmd" in *"$opts"*) ;; *) fail "CMake compiles without '$opts': $cmd" ;; esac
    done <"$work/lines"
    [ "$n" -gt 0 ] || fail "no *_$isa.cpp in $commands"
done

# 3b. The package's Makefile, unpacked and dry-run.
tar xzf "$package" -C "$work"
src=$(echo "$work"/function_Varnets-*/src)
make -n -C "$src" >"$work/make.log"
for isa in avx2 avx512; do
    opts=$(options "$isa gcc")
    grep "_$isa\.cpp" "$work/make.log" >"$work/lines" || fail "the package Makefile compiles no *_$isa.cpp"
    while read -r cmd; do
        case "$cmd" in *"$opts"*) ;; *) fail "the package Makefile compiles without '$opts': $cmd" ;; esac
    done <"$work/lines"
done

[ $failed -eq 0 ] && echo "isa flags: one file, used by every build"
exit $failed
