# Shared by the end-to-end scripts (sourced). A case builds an installer with
# `lumaveil build`, resets what an earlier run left in the Wine prefix, runs the
# installer under Wine with the driver answering its boxes, and then inspects
# the installed file, system.ini, the registry and what the installer started.
#
# A script defines functions case_NAME and ends with `e2e_main "$@"`; it is run
# as SCRIPT BUILD CASE (tests.cmake registers one test per case, label e2e:
# `ctest -L e2e`). By hand, start the shared Xvfb first with
# `tests/wine/harness.sh BUILD setup`. Each case works in BUILD/e2e/SCRIPT.CASE
# (manifest, installer, driver.out, record.log); screenshots of the boxes go
# to BUILD/screenshots.

set -u
SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
HARNESS=$SRC/tests/wine/harness.sh
UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\UnInstall'
SCREENSAVE_ACTIVE='HKCU\Control Panel\Desktop:ScreenSaveActive'
APP_DEFAULTS='HKCU\Software\Wine\AppDefaults\installer.exe'
BOOT_SAVER='system.ini:boot:SCRNSAVE.EXE'
DAMAGED_TEXT='The installer file appears to be damaged. Please get a fresh copy.'
TEST_TEXT='Ready to test the screensaver.\nPress OK, then stop moving the mouse.'
PASSED=0
FAILED=0

winpath() { local p=${1//\//\\}; echo "Z:$p"; }

e2e_main() {
  if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD CASE" >&2
    exit 2
  fi
  BUILD=$(cd "$1" && pwd)
  CASE=$2
  TOOL=$BUILD/lumaveil
  WIN32=$BUILD/win32
  STUB=$WIN32/installer.exe
  DRIVER=$WIN32/e2e_driver.exe
  RECORDER=$WIN32/e2e_recorder.exe
  for f in "$TOOL" "$STUB" "$DRIVER" "$RECORDER" "$BUILD/e2e_archive_edit"; do
    if [ ! -f "$f" ]; then
      echo "e2e: $f is not built"
      exit 77
    fi
  done
  if ! declare -F "case_$CASE" >/dev/null; then
    echo "e2e: no case $CASE in $0" >&2
    exit 2
  fi
  unset DISPLAY
  eval "$("$HARNESS" "$BUILD" env)"
  if [ -z "${DISPLAY:-}" ]; then
    echo "e2e: no Xvfb for $BUILD; run tests/wine/harness.sh $BUILD setup first (CTest's wine fixture does)"
    exit 1
  fi
  WINDIR=$WINEPREFIX/drive_c/windows
  WORK=$BUILD/e2e/$(basename "$0" .sh).$CASE
  SHOTS=$BUILD/screenshots
  rm -rf "$WORK"
  mkdir -p "$WORK" "$SHOTS"
  E2E_RECORD=$(winpath "$WORK/record.log")
  export E2E_RECORD
  : >"$WORK/record.log"
  make_payload
  "case_$CASE"
  echo "$CASE: $PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ]
}

# --- Checks ---

pass() { PASSED=$((PASSED + 1)); }
fail() {
  FAILED=$((FAILED + 1))
  echo "FAIL: $*"
}
# check DESCRIPTION COMMAND...
check() {
  local what=$1
  shift
  if "$@"; then pass; else fail "$what"; fi
}
# check_eq DESCRIPTION EXPECTED ACTUAL
check_eq() {
  if [ "$2" = "$3" ]; then
    pass
  else
    fail "$1: expected [$2], got [$3]"
  fi
}
# The driver printed exactly this line.
expect_line() {
  if grep -Fxq -- "$1" "$WORK/driver.out"; then
    pass
  else
    fail "driver did not print: $1"
    sed 's/^/  driver: /' "$WORK/driver.out"
  fi
}
# A program started just before the installer ended may still be starting.
expect_record() {
  local tries=0
  while ! grep -Fxq -- "$1" "$WORK/record.log" && [ $tries -lt 50 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
  if grep -Fxq -- "$1" "$WORK/record.log"; then
    pass
  else
    fail "not recorded: $1"
    sed 's/^/  record: /' "$WORK/record.log"
  fi
}
expect_no_record() {
  if [ -s "$WORK/record.log" ]; then
    fail "nothing should have been started"
    sed 's/^/  record: /' "$WORK/record.log"
  else
    pass
  fi
}

# --- Payload and installer ---

# Small files for the standard entries; the screensaver is the recorder, so
# that starting it leaves a trace.
make_payload() {
  cp "$RECORDER" "$WORK/saver.scr"
  head -c 3000 /dev/zero | tr '\0' 'S' >"$WORK/stub.bin"
  seq 1 4000 | sed 's/^/movie frame /' >"$WORK/movie.bin"
  seq 1 900 | sed 's/^/zett line /' >"$WORK/zett.bin"
  printf 'KMDL model data\n%.0s' $(seq 1 50) >"$WORK/kmdl.bin"
}

standard_entries() {
  cat <<'EOF'
[entry.SAVER]
file = "saver.scr"
[entry.STUB]
file = "stub.bin"
[entry.MOVIE]
file = "movie.bin"
[entry.ZETT]
file = "zett.bin"
[entry.KMDL]
file = "kmdl.bin"
EOF
}

# write_manifest KEY=VALUE...: the [installer] table (values as TOML), then
# $ENTRIES when set, else the standard entries, then $EXTRA_ENTRIES.
write_manifest() {
  {
    echo "[installer]"
    local kv
    for kv in "$@"; do echo "${kv%%=*} = ${kv#*=}"; done
    echo "${ENTRIES:-$(standard_entries)}"
    echo "${EXTRA_ENTRIES:-}"
  } >"$WORK/manifest.toml"
}

build_installer() {
  if ! "$TOOL" build "$WORK/manifest.toml" -o "$WORK/installer.exe" --stub "$STUB" >"$WORK/build.out" 2>&1; then
    fail "lumaveil build"
    cat "$WORK/build.out"
    echo "$CASE: $PASSED passed, $FAILED failed"
    exit 1
  fi
}

# --- Wine ---

# Runs the driver alone, to completion (prefix set-up and queries).
driver_now() {
  "$HARNESS" "$BUILD" run "$DRIVER" "$@" >>"$WORK/prepare.out" 2>&1 || fail "driver $*"
}

# Removes what an installation of NAME leaves behind, plus the settings a case
# may have changed, so that every case starts from the same prefix.
reset_prefix() {
  local name=$1
  shift
  rm -f "$WINDIR/$name.scr"
  # Unmanaged windows get their caption bars drawn by Wine itself: without a
  # window manager on the Xvfb display the screenshots would lack them.
  driver_now "inidel:$BOOT_SAVER" "regdel:$UNINSTALL_KEY\\$name.scr" "regset:$SCREENSAVE_ACTIVE=0" "regdel:$APP_DEFAULTS" \
    "regset:$APP_DEFAULTS\\X11 Driver:Managed=N" "$@"
}

served=" "
serve_holds() {
  local ready name
  for ready in "$WORK"/*.ready; do
    [ -e "$ready" ] || continue
    name=$(basename "$ready" .ready)
    case "$served" in *" $name "*) continue ;; esac
    served="$served$name "
    screenshot "$name" "$(cat "$ready")"
    : >"$WORK/$name.done"
  done
}

# screenshot NAME "LEFT TOP RIGHT BOTTOM": the screen around that window.
screenshot() {
  local rect=($2) crop=""
  if [ ${#rect[@]} -eq 4 ] && [ "${rect[2]}" -gt "${rect[0]}" ]; then
    local x=$((rect[0] - 12)) y=$((rect[1] - 12))
    [ $x -lt 0 ] && x=0
    [ $y -lt 0 ] && y=0
    crop="-crop $((rect[2] - rect[0] + 24))x$((rect[3] - rect[1] + 24))+$x+$y +repage"
  fi
  # shellcheck disable=SC2086
  if import -display "$DISPLAY" -window root $crop "$SHOTS/$1.png" 2>"$WORK/import.err"; then
    echo "screenshot $SHOTS/$1.png"
  else
    fail "screenshot $1: $(cat "$WORK/import.err")"
  fi
}

# run_installer "ARGS" STEP...: starts the driver with the steps, then the
# installer (from $WORK, with ARGS); takes the screenshots the driver asks for;
# waits for both, killing them when they hang. Sets INSTALLER_STATUS. The step
# query:NAME stands for the queries of NAME's uninstall entry and the switch,
# of the 8.3 name of its installed file, and of system.ini's entry.
run_installer() {
  local args=$1 step steps=()
  shift
  for step in "$@"; do
    case "$step" in
    query:*)
      local name=${step#query:}
      steps+=("reg:$UNINSTALL_KEY\\$name.scr:DisplayName" "reg:$UNINSTALL_KEY\\$name.scr:UninstallString"
        "reg:$SCREENSAVE_ACTIVE" "short:C:\\windows\\$name.scr" "ini:$BOOT_SAVER")
      ;;
    *) steps+=("$step") ;;
    esac
  done
  # The settings made for the installer go when it is done with them.
  steps+=("regdel:$APP_DEFAULTS")
  : >"$WORK/driver.out"
  rm -f "$WORK/driver.started"
  "$HARNESS" "$BUILD" run "$DRIVER" --sync "$(winpath "$WORK")" "${steps[@]}" >"$WORK/driver.out" 2>"$WORK/driver.err" &
  local driver=$!
  # The driver must be looking before the installer starts (an installer
  # that shows no box can be gone within a moment), and a window the
  # installer must find has to exist by then.
  local wait=$((SECONDS + 20))
  while [ ! -e "$WORK/driver.started" ] && [ $SECONDS -lt $wait ]; do sleep 0.05; done
  if [ "$1" = display-properties ]; then
    while [ ! -s "$WORK/driver.out" ] && [ $SECONDS -lt $wait ]; do sleep 0.05; done
  fi
  # shellcheck disable=SC2086
  (cd "$WORK" && exec "$HARNESS" "$BUILD" run "$WORK/installer.exe" $args) >"$WORK/installer.out" 2>&1 &
  local installer=$!
  local deadline=$((SECONDS + ${RUN_LIMIT:-45}))
  while kill -0 "$installer" 2>/dev/null || kill -0 "$driver" 2>/dev/null; do
    serve_holds
    if [ $SECONDS -ge $deadline ]; then
      fail "installer or driver still running after ${RUN_LIMIT:-45} s; killed"
      kill "$installer" "$driver" 2>/dev/null
      break
    fi
    sleep 0.05
  done
  wait "$installer"
  INSTALLER_STATUS=$?
  wait "$driver"
  local driver_status=$?
  check_eq "installer exit status" 0 "$INSTALLER_STATUS"
  if [ $driver_status -ne 0 ]; then
    fail "driver status $driver_status"
    sed 's/^/  driver: /' "$WORK/driver.out"
  fi
}

# --- What an installation leaves ---

# The active screensaver in system.ini, as the driver's ini: step read it.
system_ini_saver() {
  sed -n "s/^ini ${BOOT_SAVER//\\/\\\\} = \"\(.*\)\"$/\1/p" "$WORK/driver.out" | sed 's/\\\\/\\/g'
}

# The 8.3 path of NAME's installed file: the name itself when it is 8.3
# already, else the alternate name the driver's query found.
short_path() {
  if [[ "$1" =~ ^[A-Za-z0-9_]{1,8}$ ]]; then
    echo "C:\\windows\\$1.scr"
  else
    sed -n 's/^short //p' "$WORK/driver.out"
  fi
}

# The values are written without their terminating NUL; the registry (NT, and
# Wine with it) adds the NUL that follows the text, hence one byte more.
expect_uninstall_entry() {
  local name=$1 display=$2 uninstall="C:\\windows\\$1.scr -U"
  expect_line "reg $UNINSTALL_KEY\\$name.scr:DisplayName type=1 size=$((${#display} + 1)) \"$display\""
  expect_line "reg $UNINSTALL_KEY\\$name.scr:UninstallString type=1 size=$((${#uninstall} + 1)) \"${uninstall//\\/\\\\}\""
}

# expect_installed NAME DISPLAYNAME [active|inactive]
expect_installed() {
  local name=$1 display=$2 state=${3:-active}
  local file=$WINDIR/$name.scr
  check "$name.scr installed" test -f "$file"
  check "installed file starts with the screensaver program" cmp -s -n "$(stat -c %s "$WORK/saver.scr")" "$WORK/saver.scr" "$file"
  check "installed file verifies" "$TOOL" verify "$file"
  expect_uninstall_entry "$name" "$display"
  if [ "$state" = active ]; then
    local short
    short=$(short_path "$name")
    check "an 8.3 path: $short" grep -Eqx 'C:\\windows\\[A-Za-z0-9_~]{1,8}\.(scr|SCR)' <<<"$short"
    check_eq "system.ini [boot] SCRNSAVE.EXE" "$short" "$(system_ini_saver)"
    expect_line "reg $SCREENSAVE_ACTIVE type=1 size=2 \"1\""
  else
    check_eq "system.ini [boot] SCRNSAVE.EXE" "" "$(system_ini_saver)"
    expect_line "reg $SCREENSAVE_ACTIVE type=1 size=2 \"0\""
  fi
}

expect_not_installed() {
  local name=$1
  check "$name.scr not installed" test ! -e "$WINDIR/$name.scr"
  check_eq "system.ini [boot] SCRNSAVE.EXE" "" "$(system_ini_saver)"
  expect_line "reg $UNINSTALL_KEY\\$name.scr:DisplayName absent-key"
  expect_line "reg $SCREENSAVE_ACTIVE type=1 size=2 \"0\""
}

# --- The installed archive ---

# entries FILE: one line per directory entry, in directory order:
# NAME STORAGE XOR OFFSET STORED ORIGINAL, STORAGE 0 plain, 1 compressed, 255 inline.
entries() {
  "$TOOL" list "$1" --json | python3 -c '
import json, sys
codes = {"plain": 0, "lzhuf": 1, "inline": 255}
for e in json.load(sys.stdin):
    print(e["name"], codes[e["storage"]], e["xor"], e["offset"], e["stored"], e["original"])
'
}

entry_names() { entries "$1" | awk '{print $1}' | sort | tr '\n' ' ' | sed 's/ $//'; }
# entry_field FILE NAME COLUMN (2 storage, 3 xor, 4 offset, 5 stored, 6 original)
entry_field() { entries "$1" | awk -v n="$2" -v c="$3" '$1 == n {print $c; exit}'; }

extract() { "$TOOL" extract "$1" "$2" -o "$3" >/dev/null 2>&1; }

# replace_info OFFSET=VALUE...: gives the built installer settings the tool
# would not write: the "INFO" record with these 32-bit fields changed is
# appended as a new entry that the installer finds first.
replace_info() {
  extract "$WORK/installer.exe" INFO "$WORK/info.raw" || fail "extract INFO"
  python3 - "$WORK/info.raw" "$@" <<'PY'
import struct, sys
path = sys.argv[1]
record = bytearray(open(path, "rb").read())
for change in sys.argv[2:]:
    at, value = (int(x, 0) for x in change.split("="))
    struct.pack_into("<i", record, at, value)
open(path, "wb").write(record)
PY
  "$TOOL" compress "$WORK/info.raw" "$WORK/info.rc" >/dev/null || fail "compress INFO"
  "$BUILD/e2e_archive_edit" "$WORK/installer.exe" append INFO "$WORK/info.rc" 1 "$(stat -c %s "$WORK/info.raw")" ||
    fail "append INFO"
}
