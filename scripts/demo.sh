#!/usr/bin/env bash
# The main job: installs what is missing, builds the updater, serves a version answer from a
# local web server and runs the updater headless against it, then prints the channel and the
# target version that the updater found (read from its log file) and stops it.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target update -j "$(nproc)"

work=$(mktemp -d)
server_pid=""
update_pid=""
cleanup() {
  [ -n "$update_pid" ] && kill "$update_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www" "$work/tmp" "$work/home" "$work/config" "$work/xdg" "$work/install"
# The updater writes its session record next to itself: run an installed copy.
cp -r build/bin/. "$work/install/"
chmod 700 "$work/xdg"

# The version service's answer: one Versions message, written here in protobuf text form.
cat >"$work/answer.txt" <<'ANSWER'
licenseAgreementId: 4
channels { name: "stable" version_number: 5000 version_string: "3.6.2" }
channels { name: "beta" version_number: 5100 version_string: "3.7.0-beta1" }
ANSWER
protoc --encode=velloran.update.Versions -I updater/src updater/src/UpdateMessage.proto \
  <"$work/answer.txt" >"$work/www/vlr-client-2" 2>/dev/null

# The user is on the beta channel.
printf '[Channel]\nbeta=true\n' >"$work/config/update.ini"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/www" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
  sleep 0.1
done

echo "Version service: http://127.0.0.1:$port/vlr-client-2"
TMPDIR="$work/tmp" HOME="$work/home" VLR_CONFIG_DIR="$work/config" XDG_RUNTIME_DIR="$work/xdg" \
  QT_QPA_PLATFORM=offscreen VLR_VERSION_URL="http://127.0.0.1:$port/vlr-client-2" \
  "$work/install/update" &
update_pid=$!

log=""
for _ in $(seq 200); do
  log=$(ls "$work"/tmp/velloran_update_log/update__*.log 2>/dev/null | head -n 1 || true)
  if [ -n "$log" ] && grep -q "onStartUpdate" "$log"; then
    break
  fi
  sleep 0.1
done
if [ -z "$log" ] || ! grep -q "Received version from remote server:" "$log"; then
  echo "The updater did not receive a version; its log:" >&2
  [ -n "$log" ] && cat "$log" >&2
  exit 1
fi

echo "Log file: $(basename "$log")"
echo "Channel:        $(grep -oE '(Alpha|Beta|Stable) channel detected, URL = .*|No update.ini found.*' "$log" | head -n 1)"
echo "Target version: $(grep -o 'Received version from remote server: .*' "$log" | head -n 1)"
echo "Ready:          $(grep -q 'onStartUpdate false false' "$log" && echo yes || echo no)"
