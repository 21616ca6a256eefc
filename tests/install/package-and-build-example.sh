#!/usr/bin/env bash
# Builds the Debian package from the build directory, unpacks it into a scratch root (no
# root rights, the machine stays as it was) and uses it as an application's developer does:
# the example built with pkg-config and with a CMake project using find_package(KinetorIO),
# both run against the simulated arm. The root lies elsewhere than the package's /usr, so
# this also shows that the .pc and CMake files find everything relative to themselves.
# Arguments: the cmake program, the build directory, the C compiler.
set -euo pipefail
cmake_bin=$1
build_dir=$(cd "$2" && pwd)
cc_bin=$3
cpack_bin=$(dirname "$cmake_bin")/cpack
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

scratch=$(mktemp -d /tmp/kinetor-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The package, staged and compressed away from the build directory.
"$cpack_bin" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 \
    || { cat "$scratch/cpack.log"; fail "cpack could not build the package"; }
deb=$(find "$scratch/out" -maxdepth 1 -name 'kinetor_*.deb')
[ -n "$deb" ] || fail "no kinetor_*.deb in $scratch/out"
echo "package: $(basename "$deb")"

# Control data: the run-time library of FireWire, and the scripts that set the group up.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ $depends == *libraw1394-* ]] || fail "the package does not depend on libraw1394"
mkdir "$scratch/control"
dpkg-deb -e "$deb" "$scratch/control"
for s in postinst postrm; do
  [ -x "$scratch/control/$s" ] || fail "$s missing or not executable"
  sh -n "$scratch/control/$s" || fail "$s is not valid sh"
done
grep -q 'groupadd --system kinetor' "$scratch/control/postinst" || fail "postinst does not add group kinetor"
grep -qs 'ldconfig' "$scratch/control/postinst" "$scratch/control/triggers" \
    || fail "neither postinst nor a trigger runs ldconfig for the shared library"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
(cd "$root" && find . -type f -o -type l | sed 's|^\./|/|' | sort) >"$scratch/files"

# Everything an installation promises, found by shape rather than by the library directory,
# which is Debian's multiarch one or plain lib depending on how the build was configured.
expect() {
  grep -Eq "^$1\$" "$scratch/files" || { cat "$scratch/files"; fail "not in the package: $1"; }
}
expect '/usr/lib/(.+/)?libKinetorIO\.so\.4'
expect '/usr/lib/(.+/)?libKinetorIO\.so'
expect '/usr/lib/(.+/)?pkgconfig/KinetorIO\.pc'
expect '/usr/lib/(.+/)?cmake/KinetorIO/KinetorIOConfig\.cmake'
expect '/usr/lib/(.+/)?cmake/KinetorIO/KinetorIOConfigVersion\.cmake'
expect '/usr/lib/(.+/)?cmake/KinetorIO/KinetorIOTargets\.cmake'
expect '/usr/include/KinetorIO/KinetorIO\.h'
expect '/usr/include/KinetorIO/KinetorServo\.h'
expect '/usr/bin/kinetor-demo'
expect '/usr/lib/udev/rules\.d/60-kinetor\.rules'
expect '/usr/share/man/man3/libKinetorIO\.3'
expect '/usr/share/man/man1/kinetor-demo\.1'
expect '/usr/share/kinetor/examples/kinetor-example\.c'
expect '/usr/share/kinetor/examples/Kinetor0\.ini'
# Every program the package carries has its page.
for p in $(grep '^/usr/bin/' "$scratch/files"); do
  expect "/usr/share/man/man1/$(basename "$p")\\.1"
done
if grep -Eq '/(unit_|bench_|integration$|demo_run$|example_files$)' "$scratch/files"; then
  fail "test or benchmark programs in the package"
fi
# Nothing installed may point back into the build or the source tree.
if grep -rlF -e "$build_dir" -e "$source_dir" "$root/usr/lib" "$root/usr/share" 2>/dev/null | grep -v '\.so'; then
  fail "installed files name the build or source directory"
fi
for page in $(grep '/usr/share/man/' "$scratch/files"); do
  groff -man -ww -z "$root$page" 2>"$scratch/groff.log" && [ ! -s "$scratch/groff.log" ] \
      || { cat "$scratch/groff.log"; fail "manual page $page does not format cleanly"; }
done

pcfile=$(find "$root" -name KinetorIO.pc)
libdir=$(dirname "$(find "$root" -name 'libKinetorIO.so.4')")
work=$scratch/work
mkdir -p "$work/config"
cp "$root/usr/share/kinetor/examples/Kinetor0.ini" "$work/config/"

# Runs a built example on the simulated arm and checks the line it prints: the whole run,
# and the floor lifting the stylus from its start but not past the floor.
run_example() {
  local exe=$1 out z
  out=$(cd "$work" && LD_LIBRARY_PATH=$libdir KINETOR_CONFIG_FILES=$work/config \
        KINETOR_SIMULATOR=pace=lockstep timeout 60 "$exe")
  echo "$out"
  case "$out" in
    "3000 ticks at "*"; stylus at "*) ;;
    *) fail "unexpected output from $exe" ;;
  esac
  z=$(echo "$out" | sed -n 's/.*stylus at .*, \(.*\) mm/\1/p')
  awk -v z="$z" 'BEGIN { exit !(z > 0.5 && z < 5.0) }' || fail "stylus height $z mm not between the start and the floor"
  # The library it ran with is the unpacked one, not some other installation.
  LD_LIBRARY_PATH=$libdir ldd "$exe" | grep -F "libKinetorIO.so.4 => $libdir/" >/dev/null \
      || { LD_LIBRARY_PATH=$libdir ldd "$exe"; fail "$exe does not use the unpacked library"; }
}

# pkg-config, with the search path set to the unpacked root only.
export PKG_CONFIG_LIBDIR=$(dirname "$pcfile")
unset PKG_CONFIG_PATH
incdir=$(pkg-config --variable=includedir KinetorIO)
[ -f "$incdir/KinetorIO.h" ] || fail "pkg-config's includedir '$incdir' holds no KinetorIO.h"
[[ $(cd "$incdir" && pwd -P) == "$(cd "$root" && pwd -P)"/* ]] || fail "pkg-config points outside the unpacked root: $incdir"
[ "$(pkg-config --modversion KinetorIO)" = "$(dpkg-deb -f "$deb" Version)" ] || fail "pkg-config version differs from the package's"
cp "$root/usr/share/kinetor/examples/kinetor-example.c" "$work/"
# shellcheck disable=SC2046
"$cc_bin" -Wall -Wextra -Werror "$work/kinetor-example.c" $(pkg-config --cflags --libs KinetorIO) -o "$work/example-pc"
run_example "$work/example-pc"

# CMake, with the unpacked /usr as the only prefix to search.
proj=$scratch/cmake-project
mkdir -p "$proj"
cp "$root/usr/share/kinetor/examples/kinetor-example.c" "$proj/"
cat >"$proj/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(KinetorExample C)
find_package(KinetorIO 4.0 REQUIRED)
add_executable(example kinetor-example.c)
target_compile_options(example PRIVATE -Wall -Wextra -Werror)
target_link_libraries(example PRIVATE KinetorIO::KinetorIO)
message(STATUS "KinetorIO found in ${KinetorIO_DIR}")
CMAKE
"$cmake_bin" -S "$proj" -B "$proj/build" -DCMAKE_C_COMPILER="$cc_bin" -DCMAKE_PREFIX_PATH="$root/usr" \
    -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
    >"$scratch/cmake.log" 2>&1 || { cat "$scratch/cmake.log"; fail "the CMake project does not configure"; }
grep -F "KinetorIO found in $root/usr/" "$scratch/cmake.log" || { cat "$scratch/cmake.log"; fail "find_package took KinetorIO from elsewhere"; }
"$cmake_bin" --build "$proj/build" >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; fail "the CMake project does not build"; }
run_example "$proj/build/example"

# The version file: a later major version is refused, not silently accepted.
sed -i 's/find_package(KinetorIO 4.0 REQUIRED)/find_package(KinetorIO 5.0 REQUIRED)/' "$proj/CMakeLists.txt"
if "$cmake_bin" -S "$proj" -B "$proj/build5" -DCMAKE_C_COMPILER="$cc_bin" -DCMAKE_PREFIX_PATH="$root/usr" \
       >"$scratch/cmake5.log" 2>&1; then
  fail "find_package(KinetorIO 5.0) accepted version $(dpkg-deb -f "$deb" Version)"
fi
echo "package file list:"
cat "$scratch/files"
