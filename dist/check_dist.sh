#!/bin/sh
# check_dist.sh WORK ARCHIVE SOURCE_DIR MEXW64 OCTAVE_CLI
# Checks the download bundle ARCHIVE as a user meets it: its listing holds
# exactly the expected files under one top folder (the .mexw64 when MEXW64
# is ON), and, unpacked with unzip into the emptied folder WORK, its test
# script passes in a fresh Octave whose path holds only the bundle folder.
# (toolbox_build_script builds the module from the same layout.)
set -eu
work=$1 archive=$2 source=$3 mexw64=$4 octave=$5
top=$(basename "$archive" .zip)

expected=$(mktemp) listed=$(mktemp)
trap 'rm -f "$expected" "$listed"' EXIT
{
  for f in function_Varnets.mex function_Varnets.mexa64 function_Varnets.m Contents.m \
           functionSignatures.json test_function_Varnets.m build_function_Varnets.m \
           LICENSE README.txt; do
    echo "$top/$f"
  done
  case $mexw64 in ON|on|1|TRUE|true) echo "$top/function_Varnets.mexw64" ;; esac
  # Every source file build_function_Varnets compiles or includes.
  (cd "$source" && ls core/include/varnets/*.h core/src/*.h core/src/*.cpp core/src/isa_flags.txt \
                      gateway/*.h gateway/*.cpp) |
    sed "s|^|$top/|"
} | sort > "$expected"
unzip -Z1 "$archive" | grep -v '/$' | sort > "$listed"
if ! cmp -s "$expected" "$listed"; then
  echo "FAILED: $archive lists other files than expected (< missing, > unexpected):"
  diff "$expected" "$listed" | grep '^[<>]'
  exit 1
fi
echo "ok      $(wc -l < "$listed") files, all under $top/"

rm -rf "$work"
mkdir -p "$work"
unzip -q "$archive" -d "$work"
bundle=$work/$top
cd "$work"

"$octave" --no-gui --norc --no-history --quiet --eval "
  bundle = '$bundle';
  addpath(bundle);
  cd(bundle);
  found = which('function_Varnets');
  assert(strcmp(found, fullfile(bundle, 'function_Varnets.mex')), 'function_Varnets is %s', found);
  test_function_Varnets"
