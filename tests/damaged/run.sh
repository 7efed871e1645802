#!/usr/bin/env bash
# Runs every damaged installer of tests/damaged/variants under Wine and checks
# what it shows and what it leaves behind.
#   run.sh BUILD [NAME...]     all variants, or only those named
# Needs BUILD/lumaveil, BUILD/lv_damage, BUILD/win32/installer.exe and
# BUILD/win32/e2e_driver.exe, and the Wine prefix and display of
# tests/wine/harness.sh (CTest fixture "wine").
set -u
build=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "$0")" && pwd)
only=("$@")

eval "$("$here/../wine/harness.sh" "$build" env)"
tool=$build/lumaveil
damage=$build/lv_damage
stub=$build/win32/installer.exe
driver=$build/win32/e2e_driver.exe
work=$build/damaged-work
drive=$WINEPREFIX/drive_c
windows=$drive/windows
inbox=$drive/damaged           # where each installer is started from
uninstall='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\UnInstall'
damaged_text='The installer file appears to be damaged. Please get a fresh copy.'
finish_text='DmgTest is installed.'
failure_text='DmgTest could not be installed.'
run_limit=60                   # seconds a run may take before it counts as a hang

for f in "$tool" "$damage" "$stub" "$driver"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "damaged: missing $f" >&2; exit 2; }
done
rm -rf "$work" "$inbox"
mkdir -p "$work" "$inbox"

# A crash must end the process, not wait in a dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

# Every file under drive_c with size and time (directories by name only: a
# file made and removed again is no change), except the temporary
# directories (the installer may use them) and the folder the installers
# are started from.
snapshot() {
  (cd "$drive" && find . \( -path ./damaged -o -path ./windows/temp -o -ipath './users/*/temp' \) -prune \
    -o -type d -printf '%p/\n' -o -printf '%p %s %T@\n') | sort >"$1"
}

# Starts file as C:\damaged\setup.exe, lets the driver read and answer the
# box, and waits for the installer to end. Sets: said (the driver's lines),
# status (the installer's exit status, 124 when it had to be killed).
start_installer() {  # file driver-step...
  cp "$1" "$inbox/setup.exe"
  shift
  (cd "$work" && exec timeout -k 5 "$run_limit" wine 'C:\damaged\setup.exe' >"$work/$name.out" 2>&1) &
  local pid=$!
  said=$(timeout $((run_limit + 10)) wine "$driver" --timeout 20 "$@" 2>&1 | tr -d '\r')
  wait "$pid"
  status=$?
}

# Starts a file that is not a program; only Wine's own verdict is expected.
start_non_program() {
  cp "$1" "$inbox/setup.exe"
  (cd "$work" && exec timeout -k 5 "$run_limit" wine 'C:\damaged\setup.exe' >"$work/$name.out" 2>&1)
  status=$?
  said=$(tr -d '\r' <"$work/$name.out" | head -3)
}

registry() {
  wine "$driver" "reg:$uninstall\\DmgTest.scr:DisplayName" "reg:$uninstall\\..\\DmgEvil.scr:DisplayName" \
    "reg:$uninstall\\DmgEvil.scr:DisplayName" 2>&1 | tr -d '\r'
}

box_text() { sed -n 's/^box [a-z]* caption="[^"]*" text="\(\([^"\\]\|\\.\)*\)".*/\1/p' <<<"$said" | head -1; }

# The installer as built, its installed file, and the damaged copies.
if ! "$tool" build "$here/fixture/damaged.toml" --stub "$stub" -o "$work/good.exe" >"$work/build.log" 2>&1; then
  echo "damaged: the fixture installer was not built:" >&2
  cat "$work/build.log" >&2
  exit 2
fi

make_variant() {  # name source damage... -> path of the file to start
  local out=$work/$1.exe source=$2
  shift 2
  case "$source" in
    @empty) : >"$out" ;;
    @text) printf 'This is not a program.\r\nIt is a text file named like an installer.\r\n' >"$out" ;;
    @scr) cat "$stub" "$work/installed.scr" >"$out" ;;
    -) cp "$work/good.exe" "$out" ;;
    *) "$damage" "$work/good.exe" "$out" "$source" "$@" || return 1 ;;
  esac
  echo "$out"
}

passed=0 failed=0 known=0
report() {  # verdict line
  if [ -n "$problems" ]; then
    failed=$((failed + 1))
    printf 'FAIL  %-24s %s:%s\n' "$name" "$1" "$problems"
    sed 's/^/        driver: /' <<<"$said"
  else
    passed=$((passed + 1))
    printf 'ok    %-24s %s\n' "$name" "$1"
  fi
  # Faults already reported to their owners, and how the box was answered
  # when the driver had to help.
  [ -z "$notes" ] || printf '        known:%s\n' "$notes"
  grep '^answered;' <<<"$said" | sed 's/^/        driver: /'
}

# The state every run starts from: no installed file, no uninstall key,
# system.ini as the prefix had it.
cp "$windows/system.ini" "$work/system.ini.baseline"
reset_prefix() {
  rm -f "$windows/DmgTest.scr" "$drive/DmgEvil.scr" "$windows/DmgEvil.scr"
  cp "$work/system.ini.baseline" "$windows/system.ini"
  if grep -q 'type=' <<<"$(registry)"; then
    wine "$driver" "regdel:$uninstall\\DmgTest.scr" "regdel:$uninstall\\..\\DmgEvil.scr" \
      "regdel:$uninstall\\DmgEvil.scr" >/dev/null 2>&1
  fi
}

while read -r name outcome want_verify damage_ops; do
  case "$name" in '' | '#'*) continue ;; esac
  if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]] && [ "$name" != control ]; then continue; fi
  problems="" notes="" said=""
  # shellcheck disable=SC2086
  file=$(make_variant "$name" $damage_ops) || { problems=" the damage helper failed"; report "$outcome"; continue; }

  "$tool" verify "$file" >"$work/$name.verify" 2>&1
  verify=$?
  if [ "$verify" != "${want_verify%\?}" ]; then
    if [ "$want_verify" != "${want_verify%\?}" ]; then notes+=" lumaveil verify says $verify"
    else problems+=" lumaveil verify said $verify, not $want_verify"; fi
  elif [ "$want_verify" != "${want_verify%\?}" ]; then
    notes+=" lumaveil verify now says $verify: drop the ? in the variants table"
  fi

  reset_prefix
  snapshot "$work/before"
  begin=$(date +%s%N)
  case "$outcome" in
    not-started) start_non_program "$file" ;;
    unloaded-accepted) start_installer "$file" box press:- box answer gone ;;
    damaged-program) start_installer "$file" lone-box press:OK gone ;;
    *) start_installer "$file" box answer gone ;;
  esac
  tenths=$((($(date +%s%N) - begin) / 100000000))
  seconds=$((tenths / 10)).$((tenths % 10))
  snapshot "$work/after"
  changes=$(diff "$work/before" "$work/after" | sed -n 's/^[<>] \.\/\([^ ]*\).*/\1/p' | sort -u | tr '\n' ' ')
  text=$(box_text)

  case "$outcome" in
    installs) expected=$finish_text ;;
    damaged | damaged-program) expected=$damaged_text ;;
    failure) expected=$failure_text ;;
    unloaded | unloaded-accepted) expected=- ;;
    not-started) expected="" ;;
  esac
  if [ "$outcome" = not-started ]; then
    [ "$status" -ne 0 ] && [ "$status" -ne 124 ] || problems+=" Wine ran it (status $status)"
  else
    [ "$status" -eq 0 ] || problems+=" exit status $status$([ "$status" -eq 124 ] && echo ' (hung, killed)')"
    [ "$text" = "$expected" ] || problems+=" box said \"$text\""
    grep -q '^gone$' <<<"$said" || problems+=" the installer did not end after the answer"
    case "$outcome" in
      unloaded*) grep -q '^box question ' <<<"$said" || problems+=" no question dialog" ;;
    esac
    if [ "$outcome" = unloaded-accepted ] && ! grep -q '^box message caption="" text="-"' <<<"$said"; then
      problems+=" no failure text \"-\" after the question was accepted"
    fi
  fi
  if grep -qi 'unhandled\|page fault\|exception' "$work/$name.out" 2>/dev/null; then problems+=" crashed"; fi

  keys=$(registry)
  if [ "$outcome" = installs ]; then
    [ -f "$windows/DmgTest.scr" ] || problems+=" no DmgTest.scr"
    grep -q 'DmgTest.scr:DisplayName type=' <<<"$keys" || problems+=" no uninstall key"
    [ "$name" = control ] && cp "$windows/DmgTest.scr" "$work/installed.scr" 2>/dev/null
    unexpected=$(tr ' ' '\n' <<<"$changes" | grep -v -x -e '' -e 'windows/DmgTest.scr' -e 'windows/system.ini')
  else
    grep -q 'type=' <<<"$keys" && problems+=" an uninstall key was written"
    cmp -s "$work/system.ini.baseline" "$windows/system.ini" || problems+=" system.ini changed"
    unexpected=$changes
  fi
  [ -z "$unexpected" ] || problems+=" wrote outside the temporary directory: $unexpected"
  report "$outcome (${seconds}s)"
done <"$here/variants"
reset_prefix

echo "damaged installers: $passed passed, $failed failed"
[ $failed -eq 0 ]
