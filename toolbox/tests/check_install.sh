#!/usr/bin/env bash
# check_install.sh BUILD PREFIX FOLDER OCTAVE: installs BUILD under PREFIX and
# checks that FOLDER there holds the modules that were built and the help
# files, and that Octave, with only that folder added, runs the module.
set -euo pipefail
build=$1 prefix=$2 folder=$3 octave=$4
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
dir=$prefix/$folder
problems=0
for file in function_Varnets.mex function_Varnets.mexa64 function_Varnets.mexw64 \
            function_Varnets.m Contents.m functionSignatures.json test_function_Varnets.m; do
    if [ -e "$build/mex/$file" ] && [ ! -f "$dir/$file" ]; then
        echo "FAILED  $file was built but not installed in $dir"
        problems=$((problems + 1))
    fi
done
[ -f "$dir/function_Varnets.mex" ] || { echo "FAILED  no Octave module in $dir"; problems=$((problems + 1)); }
"$octave" --no-gui --norc --no-history --quiet --eval "addpath('$dir'); assert (isequal (function_Varnets ([3 1 2]), [3 2 2])); assert (! isempty (strfind (help ('function_Varnets'), 'order-statistic')))" \
    || { echo "FAILED  the installed module does not run from $dir"; problems=$((problems + 1)); }
[ "$problems" -eq 0 ] && echo "installed into $dir: $(ls "$dir" | tr '\n' ' ')"
exit "$problems"
