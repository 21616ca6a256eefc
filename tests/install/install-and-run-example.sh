#!/usr/bin/env bash
# Installs the build into a scratch prefix and follows the README: build the example with
# pkg-config, run it on the simulated arm with the shipped configuration, expect exit 0.
# Arguments: the cmake program, the build directory, the C compiler.
set -euo pipefail
cmake_bin=$1
build_dir=$2
cc_bin=$3

scratch=$(mktemp -d /tmp/kinetor-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

"$cmake_bin" --install "$build_dir" --prefix "$prefix" >"$scratch/install.log"

# Only what an application needs, and no test or benchmark programs.
for f in include/KinetorIO/KinetorIO.h include/KinetorIO/KinetorServo.h bin/kinetor-demo \
         share/kinetor/examples/kinetor-example.c share/kinetor/examples/Kinetor0.ini \
         lib/udev/rules.d/60-kinetor.rules share/man/man3/libKinetorIO.3 share/man/man1/kinetor-demo.1; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ -n "$(find "$prefix" -path '*/cmake/KinetorIO/KinetorIOConfig.cmake')" ] || { echo "not installed: KinetorIOConfig.cmake"; exit 1; }
pcdir=$(dirname "$(find "$prefix" -name KinetorIO.pc)")
libdir=$(dirname "$pcdir")
if find "$prefix" -name 'unit_*' -o -name 'bench_*' | grep -q .; then
  echo "test or benchmark programs installed:"; find "$prefix" -name 'unit_*' -o -name 'bench_*'
  exit 1
fi

# As the README says, from a fresh directory with the configuration in its own directory.
work=$scratch/work
mkdir -p "$work/config"
cp "$prefix/share/kinetor/examples/Kinetor0.ini" "$work/config/"
cp "$prefix/share/kinetor/examples/kinetor-example.c" "$work/"
cd "$work"
flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs KinetorIO)
"$cc_bin" -Wall -Wextra -Werror kinetor-example.c $flags -o example
out=$(LD_LIBRARY_PATH=$libdir KINETOR_CONFIG_FILES=$work/config KINETOR_SIMULATOR=pace=lockstep \
      timeout 60 ./example)
echo "$out"
# The whole run with forces on, and the floor lifted the stylus off its start.
case "$out" in
  "3000 ticks at "*"; stylus at "*) ;;
  *) echo "unexpected output"; exit 1 ;;
esac
z=$(echo "$out" | sed -n 's/.*stylus at .*, \(.*\) mm/\1/p')
awk -v z="$z" 'BEGIN { exit !(z > 0.5 && z < 5.0) }' || { echo "stylus height $z mm not between the start and the floor"; exit 1; }
