#!/usr/bin/env bash
# Uninstall.exe end to end, on the X display in DISPLAY, driven by real mouse clicks
# (xdotool): ticks two applications and presses "Uninstall", then ticks "All
# applications" and presses it again, which finishes the suite's removal, down to
# the follow-up program in a documents folder whose name no ANSI code page spells.
# Then a start with a non-string value, which must end in the error box.
# Screenshots go to OUT_DIR.
# Usage: EndToEnd.sh WINE_RUN UNINSTALL_EXE FAKE_UNINSTALLER OUT_DIR
set -euo pipefail
wine_run=$1 program=$2 fake=$3 out=$4
export QEMU_RESERVED_VA="${QEMU_RESERVED_VA:-0xffff0000}"

fail() { echo "FAIL: $*" >&2; exit 1; }
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }
reg_string() { local s=${1//\\/\\\\}; echo "\"${s//\"/\\\"}\""; }

rm -rf "$out"
mkdir -p "$out"
log="$out/runs.log"
export UNINSTALL_TEST_LOG="$(windows_path "$log")"
cp "$fake" "$out/link.exe"
fake_win=$(windows_path "$fake")
documents="$out/Документы 文書"
mkdir -p "$documents/Tarnwellbury"
cp "$fake" "$documents/Tarnwellbury/VornUninstall.exe"

shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
cleanup() {
  "$wine_run" reg delete 'HKLM\SOFTWARE\Tarnwellbury' /f >/dev/null 2>&1 || true
  "$wine_run" reg add "$shell_folders" /v Personal /t REG_EXPAND_SZ /d '%USERPROFILE%\Documents' /f >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Registers the applications, "Common", the link, the documents folder and any
# extra lines, in one import (UTF-16, for the folder's name).
registry() {
  {
    echo 'Windows Registry Editor Version 5.00'
    echo
    echo '[-HKEY_LOCAL_MACHINE\SOFTWARE\Tarnwellbury]'
    echo
    echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Tarnwellbury\UninstallPaths]'
    local app
    for app in "Quill Tagger" "Tarn Radio" "Vorn Player"; do
      echo "\"$app\"=$(reg_string "\"$fake_win\" ${app%% *}")"
    done
    echo "\"Common\"=$(reg_string "\"$fake_win\" Common")"
    printf '%s\n' "$@"
    echo
    echo '[HKEY_LOCAL_MACHINE\SOFTWARE\Tarnwellbury\Links]'
    echo "\"Uninstall\"=$(reg_string "$(windows_path "$out/link.exe")")"
    echo
    echo "[${shell_folders/HKCU/HKEY_CURRENT_USER}]"
    echo "\"Personal\"=$(reg_string "$(windows_path "$documents")")"
  } | { printf '\xff\xfe'; sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE; } >"$out/setup.reg"
  "$wine_run" reg import "$(windows_path "$out/setup.reg")" >/dev/null 2>&1 || fail "registry import"
}

wait_for_window() {
  local id
  id=$(timeout 120 xdotool search --sync --onlyvisible --name '^Uninstall$' | head -n1) || fail "no window appeared"
  sleep 2 # let the window paint before it is clicked or photographed
  echo "$id"
}

wait_for_lines() {
  local count=$1
  for _ in $(seq 600); do
    [ -f "$log" ] && [ "$(wc -l <"$log")" -ge "$count" ] && return 0
    sleep 0.1
  done
  fail "expected $count runs, log has: $(cat "$log" 2>/dev/null)"
}

wait_for_exit() {
  local pid=$1
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; return $?; }
    sleep 0.1
  done
  fail "Uninstall.exe did not end"
}

# Positions in the window's client area, from the window's layout: the list at
# (11,12) with a 2-pixel border and 14-pixel rows, check boxes at their left.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 1; }
tick_row() { click "$1" 21 $((21 + 14 * $2)); }
press_uninstall() { click "$1" 278 230; }
tick_all_applications() { click "$1" 19 230; }

echo "== two applications, then the rest"
registry
"$wine_run" "$program" &
pid=$!
window=$(wait_for_window)
tick_row "$window" 0 # Quill
tick_row "$window" 2 # Vorn
import -window root "$out/screen-ticked.png"
import -window "$window" "$out/uninstall.png"
press_uninstall "$window"
wait_for_lines 2
kill -0 "$pid" 2>/dev/null || fail "the window closed with an application left"
tick_all_applications "$window" # Tarn, the one left
press_uninstall "$window"
wait_for_exit "$pid" || fail "Uninstall.exe returned $?"
wait_for_lines 6
# The link and the follow-up program are not waited for: either may come first.
expected="uninstall_fake.exe Quill /silent
uninstall_fake.exe Vorn /silent
uninstall_fake.exe Tarn /silent
uninstall_fake.exe Common /silent
VornUninstall.exe
link.exe"
[ "$( (head -n4 "$log"; tail -n+5 "$log" | sort) )" = "$expected" ] || fail "runs were:
$(cat "$log")"

echo "== a non-string value at start-up"
rm -f "$log"
registry '"Broken"=dword:00000001'
"$wine_run" "$program" &
pid=$!
box=$(wait_for_window)
geometry=$(xdotool getwindowgeometry "$box" | sed -n 's/.*Geometry: //p')
[ "$geometry" != "358x254" ] || fail "the main window was shown"
import -window "$box" "$out/error-box.png"
xdotool windowfocus --sync "$box" key Return
wait_for_exit "$pid" || fail "Uninstall.exe returned $?"
[ ! -s "$log" ] || fail "something ran: $(cat "$log")"
echo "PASS"
