#!/usr/bin/env bash
# Checks a built MATLAB module without loading it: what it exports, which
# libraries or DLLs it needs, which host functions it imports (all must be
# listed in the given .def files), and for Linux the newest glibc / libstdc++
# symbol versions it asks for. Prints every problem, then a summary line.
#
# Usage: check_module.sh elf|pe MODULE HOST_DEF...
#   OBJDUMP (pe only) names an objdump that reads PE files.
set -uo pipefail

kind=$1 module=$2
shift 2
problems=0
fail() {
    echo "FAIL: $*"
    problems=$((problems + 1))
}
# Words in $1 that are not in $2 (both newline-separated).
missing_from() { comm -23 <(sort -u <<<"$1") <(sort -u <<<"$2"); }
# True when version $1 is at most $2 (dotted numbers).
at_most() { [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n1)" = "$2" ]; }

[ -f "$module" ] || { echo "FAIL: $module does not exist"; exit 1; }
host_api=$(awk 'tolower($1) == "exports" { on = 1; next } on && NF && $1 !~ /^;/ { print $1 }' "$@")

case $kind in
elf)
    # Only mexFunction, under version MEX ("MEX" itself is the version's own entry).
    exports=$(readelf --dyn-syms -W "$module" |
        awk '$1 ~ /:$/ && $7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") { print $8 }' |
        grep -vx MEX)
    [ "$exports" = "mexFunction@@MEX" ] ||
        fail "exports should be just mexFunction under version MEX, got:" $exports

    needed=$(readelf -dW "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    for lib in libmx.so libmex.so libmat.so; do
        grep -qx "$lib" <<<"$needed" || fail "does not need $lib"
    done
    extra=$(missing_from "$needed" "$(printf '%s\n' libmx.so libmex.so libmat.so \
        libstdc++.so.6 libgcc_s.so.1 libm.so.6 libc.so.6)")
    [ -z "$extra" ] || fail "needs libraries MATLAB does not provide:" $extra
    ! readelf -dW "$module" | grep -qE '\((RPATH|RUNPATH)\)' || fail "has an rpath"
    ! readelf -dW "$module" | grep -q '(TEXTREL)' || fail "has text relocations"
    readelf -lW "$module" | grep GNU_STACK | grep -q 'RW ' || fail "asks for an executable stack"

    imports=$(readelf --dyn-syms -W "$module" |
        awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }' | grep -E '^(mx|mex)' | sort -u)

    # The newest symbol versions asked for, per family, against MATLAB's oldest hosts.
    ceiling() {
        local family=$1 limit=$2 newest
        newest=$(readelf -VW "$module" | sed -n "s/.*Name: ${family}_\([0-9.]*\) .*/\1/p" |
            sort -V | tail -n1)
        echo "newest ${family}: ${newest:-none} (limit $limit)"
        [ -z "$newest" ] || at_most "$newest" "$limit" ||
            fail "needs ${family}_$newest, newer than ${family}_$limit"
    }
    ceiling GLIBC 2.17
    ceiling GLIBCXX 3.4.21
    ceiling CXXABI 1.3.9
    ceiling GCC 4.8.0
    # A statically linked C++ runtime would bring its own copies of these.
    if nm "$module" 2>/dev/null | grep -qE ' [TtWw] (__cxa_throw|__gxx_personality_v0|_Unwind_RaiseException)$'; then
        fail "contains the C++ runtime; libstdc++ and libgcc_s must stay dynamic"
    fi
    ;;
pe)
    objdump=${OBJDUMP:-objdump}
    dump=$("$objdump" -p "$module") || { echo "FAIL: $objdump cannot read $module"; exit 1; }
    grep -q 'file format pei-x86-64' <<<"$dump" || fail "is not a PE32+ x86-64 image"
    flags=$(sed -n 's/^Characteristics 0x//p' <<<"$dump")
    (((0x${flags:-0} & 0x2000) != 0)) || fail "is not a DLL"

    exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
                   on && /^\t\[ *[0-9]+\]/ { print $NF; next } on { on = 0 }' <<<"$dump")
    [ "$exports" = "mexFunction" ] || fail "exports should be just mexFunction, got:" $exports

    # Import table: "DLL Name: X" opens a block of "vma hint name" rows.
    dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$dump")
    for dll in libmx.dll libmex.dll; do
        grep -qx "$dll" <<<"$dlls" || fail "does not import from $dll"
    done
    extra=$(missing_from "$(tr 'A-Z' 'a-z' <<<"$dlls")" "$(printf '%s\n' libmx.dll libmex.dll \
        libmat.dll kernel32.dll msvcrt.dll)")
    [ -z "$extra" ] || fail "imports DLLs that a MATLAB machine lacks:" $extra
    # A 32-byte aligned move on the stack faults where Windows aligns it to 16 only.
    if "$objdump" -d "$module" | grep -qE 'vmov(aps|apd|dqa)[^(]*\(%r[sb]p\).*ymm|vmov(aps|apd|dqa) +%ymm.*\(%r[sb]p\)'; then
        fail "has 32-byte aligned AVX moves on the stack"
    fi
    imports=$(awk '/^\tDLL Name: / { dll = tolower($3); next }
                   /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ && (dll == "libmx.dll" || dll == "libmex.dll") { print $NF }' \
        <<<"$dump" | sort -u)
    ;;
*)
    echo "usage: $0 elf|pe MODULE HOST_DEF..." >&2
    exit 2
    ;;
esac

echo "host functions imported:" $imports
grep -qx mexErrMsgIdAndTxt <<<"$imports" || fail "does not import mexErrMsgIdAndTxt"
unknown=$(missing_from "$imports" "$host_api")
[ -z "$unknown" ] || fail "imports host functions outside the 32-bit-compatible API:" $unknown

if [ "$problems" -eq 0 ]; then
    echo "$module: all checks passed"
else
    echo "$module: $problems problem(s)"
    exit 1
fi
