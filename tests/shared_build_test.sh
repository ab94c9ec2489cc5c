#!/bin/sh
# The shared library: configures a build with BUILD_SHARED_LIBS=ON in a folder of its own, builds
# and installs the library alone (cmake --install --component library) into a temporary prefix,
# checks its soname and that it exports nothing but what the public headers declare, then builds
# and runs the example against it (package_consumer.sh), which must load it from the prefix.
# Arguments: the source folder, the folder to build in (kept from run to run, so that a run
# rebuilds only what changed), and the compiler launcher to build with (ccache), if any.
set -eu
source=$1
build=$2
launcher=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$source" -B "$build" -DBUILD_SHARED_LIBS=ON -DVELLISK_WERROR=ON \
  -DVELLISK_BUILD_TESTS=OFF -DVELLISK_BUILD_BENCH=OFF -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" \
  >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
cmake --build "$build" --target vellisk --parallel 2 >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
prefix=$work/prefix
cmake --install "$build" --component library --prefix "$prefix" >/dev/null

version=$(sed -n 's/^project(vellisk VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
major=${version%%.*}
lib=$(find "$prefix" -name "libvellisk.so.$version")
[ -n "$lib" ] || { echo "no libvellisk.so.$version installed"; find "$prefix"; exit 1; }
libdir=$(dirname "$lib")
[ "$(readlink "$libdir/libvellisk.so")" = "libvellisk.so.$major" ] &&
  [ "$(readlink "$libdir/libvellisk.so.$major")" = "libvellisk.so.$version" ] ||
  { echo "libvellisk.so's links are not libvellisk.so -> .so.$major -> .so.$version"; exit 1; }
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libvellisk.so.$major" ] || { echo "soname '$soname', not libvellisk.so.$major"; exit 1; }
[ -z "$(find "$prefix" -name 'libvellisk.a')" ] || { echo "a static library installed too"; exit 1; }

# Every vellisk:: name exported is declared in the installed headers: a function as
# "name(", anything else (a class, its vtable or typeinfo) as a word.
nm -DC --defined-only "$lib" | sed 's/^[0-9a-f]* [A-Za-z] //' |
  sed 's/^\(typeinfo name for\|typeinfo for\|vtable for\|VTT for\|non-virtual thunk to\) //' |
  grep '^vellisk::' >"$work/exported" || { echo "libvellisk.so exports no vellisk:: name"; exit 1; }
headers="$prefix/include/vellisk"
undeclared=0
while IFS= read -r symbol; do
  name=${symbol%%(*}
  name=$(printf '%s' "$name" | sed 's/\[abi:[^]]*\]//g; s/<.*//; s/.*:://; s/^~//')
  case $name in operator*) continue ;; esac
  case $symbol in
    *"("*) pattern="[^A-Za-z0-9_]$name(" ;;
    *) pattern="\\b$name\\b" ;;
  esac
  grep -q "$pattern" "$headers"/*.h || { echo "exported, not declared: $symbol"; undeclared=1; }
done <"$work/exported"
[ "$undeclared" = 0 ] || exit 1
echo "libvellisk.so.$version exports $(wc -l <"$work/exported") vellisk:: symbols"

sh "$source/tests/package_consumer.sh" "$prefix" "$source" "$work/example"
for example in "$work/example/cmake/measure_example" "$work/example/pc_example"; do
  ldd "$example" | grep -q "libvellisk.so.$major => $libdir/" ||
    { echo "$example does not load $libdir/libvellisk.so.$major:"; ldd "$example"; exit 1; }
done
