#!/usr/bin/env bash
# Photographs the updater window under Xvfb: step one, step two, step two in German, and
# step one with the log view opened by a click on "Details".
# Usage: scripts/screenshot.sh [build dir] [output dir]
# Writes step1.png, step2.png, step2_de.png, step1_details.png (the whole screen) and
# *_window.png (the window alone) to the output directory, default <build dir>/screenshots. The images are for looking
# at, not for the repository.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
out=${2:-$build/screenshots}
program="$build/bin/update"
[ -x "$program" ] || { echo "screenshot.sh: $program is missing; build the target update first" >&2; exit 1; }

# ImageMagick takes the picture and xdotool clicks; they are needed only here.
"$top/scripts/deps.sh" imagemagick xdotool

mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/tmp" "$work/home" "$work/xdg"
chmod 700 "$work/xdg"
# A user on the beta channel.
printf '[Channel]\nbeta=true\n' >"$work/config/update.ini"

# shot <name> <locale> <click> <arguments...>: starts the window, waits until it is drawn
# (before the run would start), clicks "Details" when <click> is 1, grabs the screen and ends
# the program.
shot() {
  local name=$1 locale=$2 click=$3
  shift 3
  TMPDIR="$work/tmp" HOME="$work/home" VLR_CONFIG_DIR="$work/config" XDG_RUNTIME_DIR="$work/xdg" \
  LC_ALL="$locale" LANG="$locale" \
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" "${@:4}" >/dev/null 2>&1 &
    pid=$!
    # The run starts 2 s after start-up: be done before that.
    eval "$(timeout 10 xdotool search --sync --onlyvisible --class update getwindowgeometry --shell | head -n 5)"
    sleep 0.4
    if [ "$3" = 1 ]; then
      # The button sits in the bottom right corner of the window.
      xdotool mousemove $((X + WIDTH - 40)) $((Y + HEIGHT - 20)) click 1
      sleep 0.3
    fi
    import -window root "$2"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  ' shot "$program" "$out/$name.png" "$click" "$@"
  # The screen is black around the window (there is no window manager): trim it away.
  convert "$out/$name.png" -bordercolor black -border 1 -trim +repage "$out/${name}_window.png"
  echo "$out/$name.png ($(identify -format '%wx%h' "$out/${name}_window.png") window)"
}

shot step1 C.UTF-8 0 --nouser update_linux_amd64 5000 3.6.2
shot step2 C.UTF-8 0 --clientupdate client_linux_amd64 5000 3.6.2
shot step2_de de_DE.UTF-8 0 --clientupdate client_linux_amd64 5000 "#"
shot step1_details C.UTF-8 1 --nouser update_linux_amd64 5000 3.6.2
