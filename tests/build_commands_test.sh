#!/bin/sh
# The README's release build and the C++ page's shared library, run as the pages show them, in a
# folder that stands in for a clone (the source's entries linked, build/ its own, kept from run to
# run so that a run rebuilds only what changed). The release build must make every program and
# the Python module where the pages say; the shared library, installed alone into a temporary
# prefix in place of the page's /usr/local, must carry its soname, export nothing but what the
# public headers declare, and serve the example (package_consumer.sh), loaded from the prefix.
# Warnings are errors (CXXFLAGS=-Werror) and the builds take two jobs; a test installs nothing, so
# it is skipped (status 77) where scripts/install-deps would install packages.
# Arguments: the source folder, the stand-in's folder, the compiler launcher to build with
# (ccache) or "", "python" when the Python module is built or "", and the programs built.
set -eu
source=$1
clone=$2
launcher=$3
python=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

missing=$("$source/scripts/install-deps" --missing)
[ -z "$missing" ] || { echo "scripts/install-deps would install: $missing"; exit 77; }

# The line of a page's indented block that names PATTERN, the only one.
shown() {
  lines=$(grep -e "^    .*$2" "$source/$1" | sed 's/^    //')
  [ -n "$lines" ] && [ "$(printf '%s\n' "$lines" | wc -l)" = 1 ] ||
    { echo "$1 shows no line, or more than one, that names $2" >&2; exit 1; }
  printf '%s\n' "$lines"
}

# Runs a command line in the stand-in, as a shell would from a clone's folder.
run() {
  echo "\$ $1" >"$work/log"
  (cd "$clone" && sh -c "$1") >>"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
}

mkdir -p "$clone/build"
for entry in "$clone"/* "$clone"/.[!.]*; do
  if [ -L "$entry" ]; then rm "$entry"; fi
done
for entry in "$source"/* "$source"/.[!.]*; do
  [ -e "$entry" ] || continue
  case ${entry##*/} in build | .git) continue ;; esac
  ln -s "$entry" "$clone/${entry##*/}"
done
export CXXFLAGS=-Werror CMAKE_BUILD_PARALLEL_LEVEL=2
if [ -n "$launcher" ]; then export CMAKE_CXX_COMPILER_LAUNCHER="$launcher"; fi

line=$(shown README.md 'cmake --preset release')
run "$line"
for program in "$@"; do
  "$clone/build/release/$program" --version | grep -qx "$program [0-9.]*" ||
    { echo "build/release/$program was not built, or does not run"; exit 1; }
done
if [ -n "$python" ] && [ -z "$(find "$clone/build/release/python" -name 'vellisk*.so')" ]; then
  echo "the Python module is not in build/release/python"
  exit 1
fi

prefix=$work/prefix
line=$(shown doc/guide/cpp.md '-DBUILD_SHARED_LIBS=ON')
case $line in
  *" --prefix /usr/local") run "${line% /usr/local} '$prefix'" ;;
  *) echo "doc/guide/cpp.md's shared build does not end in --prefix /usr/local: $line"; exit 1 ;;
esac

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
