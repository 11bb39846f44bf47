#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Shows the first declared build's install.exe (port-function, unless a
# vendor file declares others) installing its sample driver for a simulated
# device, under Wine's own device installer, in a throwaway 64-bit prefix.
# It runs the x64 build, the one for 64-bit Windows, under Wine's 64-bit
# loader, and builds only what it runs.
set -Eeuo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/host.sh
source scripts/lib/apt.sh
source scripts/lib/prerequisites.sh
source scripts/lib/wine-choice.sh
source scripts/lib/wine-prefix.sh

readonly PRESET=windows-x64
readonly BUILD_DIR="$PWD/build/$PRESET"
readonly PACKAGE_DIR='C:\ZorqDriver'
readonly BOOT_LOG="$BUILD_DIR/demo-wineboot.log"
# What Wine itself prints while the demo's programs run, which is not theirs.
readonly WINE_LOG="$BUILD_DIR/demo-wine.log"

export WINEPREFIX="$BUILD_DIR/demo-prefix"
# Wine's errors only, into the log.
export WINEDEBUG=-all,err+all
unset DISPLAY

current_step=""
step_log=""  # a log that holds the current step's own errors, if any
step() {
  current_step=$*
  step_log=""
  printf '\n== %s\n' "$*"
}

# Says which step failed and how, with the failing tool's own output where
# it went to a log rather than to the terminal.
stop_at_failed_step() {
  local status=$1 command=$2
  trap - ERR
  echo >&2
  echo "demo failed at step \"$current_step\": $command exited with status $status" >&2
  if [ -n "$step_log" ] && [ -s "$step_log" ]; then
    echo "its output ($step_log):" >&2
    sed 's/^/  /' "$step_log" >&2
  fi
  if [ -s "$WINE_LOG" ]; then
    echo "Wine's own messages, last lines ($WINE_LOG):" >&2
    tail -n 20 "$WINE_LOG" | sed 's/^/  /' >&2
  fi
  exit "$status"
}
trap 'stop_at_failed_step $? "$BASH_COMMAND"' ERR

# Wine writes CR LF line ends; show the lines as plain text. What Wine
# prints on standard error goes to its log.
wine_run() {
  "$WINE" "$@" 2>>"$WINE_LOG" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

step "Installing prerequisites and building"
install_demo_prerequisites
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET" --target demo_programs
# The first build, and its sample package, which the build wrote: one INF
# and the payload that it copies.
{ read -r FOLDER && read -r HARDWARE_ID; } < <(/usr/bin/python3 \
  cmake/build_tree.py first-build "$BUILD_DIR")
readonly FOLDER HARDWARE_ID
readonly SAMPLE="$BUILD_DIR/demo/packages/$FOLDER"
for file in "$SAMPLE"/*; do
  case $file in
    *.inf) INF_NAME=${file##*/} ;;
    *) PAYLOAD=${file##*/} ;;
  esac
done
readonly INF_NAME PAYLOAD

step "Creating a throwaway Wine prefix in $WINEPREFIX (about 15 s)"
loader_choice=$(wine_loader x64)
{ read -r _ && read -r WINE && read -r SERVER; } <<<"$loader_choice"
readonly WINE SERVER
# Nothing of Wine's outlives the demo: its services, its server, the
# folder of the server's socket.
trap 'end_wine_prefix "$WINEPREFIX" "$SERVER"' EXIT
end_wine_prefix "$WINEPREFIX" "$SERVER"
rm -rf "$WINEPREFIX" "$WINE_LOG"
mkdir -p "$WINEPREFIX"
"$SERVER" -p
step_log=$BOOT_LOG
# The first program started in a new prefix has Wine set it up before it
# runs, so it need do nothing; wineboot --init would set it up twice.
WINEDLLOVERRIDES="mscoree=;mshtml=" "$WINE" cmd.exe /c exit >"$BOOT_LOG" 2>&1 &
boot=$!
seconds=0
while kill -0 "$boot" 2>/dev/null; do
  echo "  setting up Wine... ${seconds}s"
  sleep 5
  seconds=$((seconds + 5))
done
wait "$boot" || stop_at_failed_step $? "$WINE cmd.exe /c exit (setting up the prefix)"
echo "Wine prefix ready"

step "Registering a simulated device with hardware ID $HARDWARE_ID"
wine_run "$BUILD_DIR/demo/simdevice.exe" add "$HARDWARE_ID"

step "The device before: no driver"
wine_run "$BUILD_DIR/demo/simdevice.exe" show "$HARDWARE_ID"

step "Unpacking the driver package to $PACKAGE_DIR"
package="$WINEPREFIX/drive_c/ZorqDriver"
mkdir -p "$package"
cp "$SAMPLE"/* "$BUILD_DIR/$FOLDER/install.exe" "$package/"
ls "$package"

step "Which build to use"
echo "64-bit Windows on x86-64 PCs: build/windows-x64/<build>/install.exe (run here)."
echo "Windows on ARM64 PCs: build/windows-arm64/<build>/install.exe."
echo "32-bit Windows only: build/windows-x86/<build>/install.exe. On 64-bit Windows"
echo "a 32-bit program cannot install drivers (ERROR_IN_WOW64, 0xE0000235)."

step "Running: $PACKAGE_DIR\\install.exe $INF_NAME"
status=0
output=$(cd "$package" && wine_run "$PACKAGE_DIR\\install.exe" "$INF_NAME") || status=$?
echo "${output:-(no output: the driver was updated and no restart is needed)}"
echo "exit status: $status"

step "The device after"
wine_run "$BUILD_DIR/demo/simdevice.exe" show "$HARDWARE_ID" || true
echo "payload copied by the installation:"
ls "$WINEPREFIX/drive_c/windows/system32/drivers/$PAYLOAD"

exit "$status"
