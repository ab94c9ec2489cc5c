#!/bin/sh
# Checks scripts/long-functions on functions of 61 and 60 lines (braces in strings and comments
# among them): the first is named and fails the run, the second passes.
# Arguments: the source folder and a python3.
set -eu
script=$1/scripts/long-functions
python=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# A function of $2 lines in file $1, from its signature to its closing brace.
write() {
  {
    echo 'namespace x {'
    echo 'int body(int a) {'
    echo '  const char* s = "}{";  // }'
    i=4
    while [ "$i" -le "$2" ]; do echo "  a += $i;"; i=$((i + 1)); done
    echo '}'
    echo '}  // namespace x'
  } >"$1"
}
write "$dir/long.cpp" 61
write "$dir/short.cpp" 60
if out=$("$python" "$script" "$dir/long.cpp" 2>&1); then
  echo "a function of 61 lines passed: $out"; exit 1
fi
case $out in *"  61  $dir/long.cpp:2  body"*) ;; *) echo "not named: $out"; exit 1 ;; esac
"$python" "$script" "$dir/short.cpp" || { echo "a function of 60 lines failed"; exit 1; }
