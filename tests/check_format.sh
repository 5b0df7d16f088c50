#!/bin/sh
# Every C++ source and header laid out as .clang-format says; prints the
# files that are not. Usage: check_format.sh SOURCE_DIR CLANG_FORMAT
set -eu
root=$1 clang_format=$2
cd "$root"
# Versions lay code out differently; the tree is kept in clang-format 14's
# layout (Debian 12's).
if ! "$clang_format" --version 2>/dev/null | grep -q 'version 14\.'; then
    echo "skipped: $clang_format is not clang-format 14"
    exit 77
fi
unformatted=$(find bench core fuzz gateway host matlab tests -name '*.cpp' -o -name '*.h' | sort |
              while read -r f; do
                  "$clang_format" --style=file --dry-run --Werror "$f" >/dev/null 2>&1 || echo "$f"
              done)
if [ -n "$unformatted" ]; then
    echo "Not formatted as .clang-format says (run: $clang_format -i --style=file FILE):"
    echo "$unformatted"
    exit 1
fi
echo "every C++ file formatted"
