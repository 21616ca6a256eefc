#!/usr/bin/env bash
# Takes the README's pictures of KinetorConfiguration: the main window and the add dialog,
# on a virtual screen, with two sample devices in a scratch configuration directory.
#   scripts/take-screenshots.sh [build directory] [output directory]
# Needs Xvfb, xdotool and ImageMagick (apt-get install xvfb xdotool imagemagick).
set -euo pipefail
build=${1:-build}
out=${2:-docs}
program=$build/bin/KinetorConfiguration
[ -x "$program" ] || { echo "take-screenshots.sh: build $program first" >&2; exit 2; }
for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "take-screenshots.sh: $tool is missing" >&2; exit 2; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

scratch=$(mktemp -d)
server=
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# Two devices, so that the dual page shows its pair.
mkdir -p "$scratch/config" "$scratch/work"
cp examples/Kinetor0.ini "$scratch/config/Kinetor0.ini"
sed '1s/.*/Bench arm/' examples/Kinetor0.ini > "$scratch/config/Kinetor1.ini"
printf 'My Arm\n' > "$scratch/config/DualKinetor0.ini"
printf 'Bench arm\n' > "$scratch/config/DualKinetor1.ini"

exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
server=$!
read -r -t 10 number <&3
export DISPLAY=:$number

cd "$scratch/work"
KINETOR_CONFIG_FILES=$scratch/config "$program" &
app=$!
window=$(xdotool search --sync --name '^Kinetor Configuration$' | head -1)
sleep 1
import -display "$DISPLAY" -window root -crop 864x458+0+0 +repage "$out/configuration-main.png"

# Without a window manager the pointer has to be moved first; then "Add...".
xdotool mousemove --sync 10 10
xdotool mousemove --window "$window" 375 40 click 1
dialog=$(xdotool search --sync --name '^Add Kinetor device$' | head -1)
xdotool mousemove --window "$dialog" 200 46 click 1
xdotool type --delay 20 "Left arm"
sleep 0.5
import -display "$DISPLAY" -window root -crop 864x458+0+0 +repage "$out/configuration-add.png"
echo "wrote $out/configuration-main.png and $out/configuration-add.png"
