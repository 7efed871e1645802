#!/usr/bin/env bash
# What an installation writes: the installed file entry by entry (expanded,
# unmasked or copied as stored), the optional entries, the alias, the series of
# additional entries, the patched ranges; failures that leave nothing behind;
# activation, the uninstall entry, long names, and both Windows families.
source "$(dirname "$0")/lib.sh"

# Runs an installer that shows no box at all and reports NAME's traces.
install_quietly() {
  build_installer
  reset_prefix "$1" "${@:2}"
  run_installer "" main quiet:0.5 gone "query:$1"
  expect_line 'quiet'
}

# Each way an entry can be stored, and what the installation makes of it;
# no optional entry is present.
case_copy_table() {
  ENTRIES='[entry.SAVER]
file = "saver.scr"
compression = "none"
xor = 90
[entry.STUB]
file = "stub.bin"
compression = "none"
xor = 51
[entry.MOVIE]
file = "movie.bin"
compression = "lzhuf"
[entry.ZETT]
file = "zett.bin"
compression = "lzhuf"
[entry.KMDL]
file = "kmdl.bin"
compression = "none"' write_manifest 'saver-name="Copies"'
  install_quietly Copies
  expect_installed Copies "Copies screensaver"
  local scr=$WINDIR/Copies.scr src=$WORK/installer.exe
  entries "$scr" >"$WORK/installed.list"
  check_eq "entries of the installed file" "INFO KMDL MOVIE SAVER STUB ZETT" "$(entry_names "$scr")"
  # name storage xor offset stored original
  check_eq "SAVER: unmasked, plain, first" "SAVER 0 0 0 $(stat -c %s "$WORK/saver.scr")" \
    "$(grep '^SAVER ' "$WORK/installed.list" | cut -d' ' -f1-5)"
  check_eq "STUB: stored bytes kept with their mask" "0 51" "$(entry_field "$scr" STUB 2) $(entry_field "$scr" STUB 3)"
  check_eq "MOVIE: expanded" "0 0" "$(entry_field "$scr" MOVIE 2) $(entry_field "$scr" MOVIE 3)"
  check_eq "ZETT: expanded" "0 0" "$(entry_field "$scr" ZETT 2) $(entry_field "$scr" ZETT 3)"
  check_eq "KMDL: plain" "0 0" "$(entry_field "$scr" KMDL 2) $(entry_field "$scr" KMDL 3)"
  check_eq "INFO: compressed again, 5640 bytes" "1 0 5640" \
    "$(entry_field "$scr" INFO 2) $(entry_field "$scr" INFO 3) $(entry_field "$scr" INFO 6)"
  local name
  for name in STUB MOVIE ZETT KMDL; do
    extract "$scr" "$name" "$WORK/got.$name"
    check "$name content" cmp -s "$WORK/got.$name" "$WORK/$(tr 'A-Z' 'a-z' <<<"$name").bin"
  done
  extract "$scr" INFO "$WORK/got.INFO"
  extract "$src" INFO "$WORK/src.INFO"
  check "INFO record equal to the installer's" cmp -s "$WORK/got.INFO" "$WORK/src.INFO"
  # Entries lie in the order of the copies.
  check_eq "data order" "SAVER STUB MOVIE INFO ZETT KMDL" \
    "$(sort -n -k4 "$WORK/installed.list" | awk '{print $1}' | tr '\n' ' ' | sed 's/ $//')"
}

# The optional entries, PREVIEWF sharing MOVIE's bytes, and the additional
# series with a gap: ADDTL and ADDTL01 are copied, ADDTL03 is not. ADDL3 is
# never copied.
case_optional_entries() {
  local n
  for n in verl pssb previewb addtl addtl01 addtl03 addl3; do seq 1 300 | sed "s/^/$n /" >"$WORK/$n.bin"; done
  EXTRA_ENTRIES='[entry.VERL]
file = "verl.bin"
[entry.PSSB]
file = "pssb.bin"
compression = "none"
xor = 7
[entry.PREVIEWB]
file = "previewb.bin"
compression = "lzhuf"
[entry.PREVIEWF]
same-as = "MOVIE"
[entry.ADDTL]
file = "addtl.bin"
compression = "lzhuf"
[entry.ADDTL01]
file = "addtl01.bin"
compression = "none"
[entry.ADDTL03]
file = "addtl03.bin"
[entry.ADDL3]
file = "addl3.bin"' write_manifest 'saver-name="Extras"'
  install_quietly Extras
  expect_installed Extras "Extras screensaver"
  local scr=$WINDIR/Extras.scr
  check_eq "entries of the installed file" \
    "ADDTL ADDTL01 INFO KMDL MOVIE PREVIEWB PREVIEWF PSSB SAVER STUB VERL ZETT" "$(entry_names "$scr")"
  check_eq "PREVIEWF points at MOVIE's bytes" "$(entry_field "$scr" MOVIE 4) $(entry_field "$scr" MOVIE 5)" \
    "$(entry_field "$scr" PREVIEWF 4) $(entry_field "$scr" PREVIEWF 5)"
  # Additional entries are copied as stored: a compressed one stays compressed.
  check_eq "ADDTL copied as stored" "1 $(entry_field "$WORK/installer.exe" ADDTL 5)" \
    "$(entry_field "$scr" ADDTL 2) $(entry_field "$scr" ADDTL 5)"
  check_eq "PSSB keeps its mask" "0 7" "$(entry_field "$scr" PSSB 2) $(entry_field "$scr" PSSB 3)"
  for n in VERL PSSB PREVIEWB PREVIEWF ADDTL ADDTL01; do
    extract "$scr" "$n" "$WORK/got.$n"
    local want=$WORK/$(tr 'A-Z' 'a-z' <<<"$n").bin
    [ "$n" = PREVIEWF ] && want=$WORK/movie.bin
    check "$n content" cmp -s "$WORK/got.$n" "$want"
  done
}

# Without "ADDTL" none of the numbered entries is copied.
case_additional_without_base() {
  seq 1 100 >"$WORK/a1.bin"
  seq 1 200 >"$WORK/a2.bin"
  EXTRA_ENTRIES='[entry.ADDTL01]
file = "a1.bin"
[entry.ADDTL02]
file = "a2.bin"' write_manifest 'saver-name="NoBase"'
  install_quietly NoBase
  expect_installed NoBase "NoBase screensaver"
  check_eq "entries of the installed file" "INFO KMDL MOVIE SAVER STUB ZETT" "$(entry_names "$WINDIR/NoBase.scr")"
}

# A required entry that the payload lacks fails the installation: the failure
# text, and no file, activation or uninstall entry is left.
missing_case() {
  local name=$1 entry=$2
  write_manifest "saver-name=\"$name\"" "finish=\"$name is now your screensaver.\"" \
    "failure=\"$name could not be installed.\""
  build_installer
  "$BUILD/e2e_archive_edit" "$WORK/installer.exe" rename "$entry" "${entry}X" || fail "rename $entry"
  reset_prefix "$name"
  run_installer "" box answer quiet:1 gone "query:$name"
  expect_line "box message caption=\"$name\" text=\"$name could not be installed.\" buttons=\"OK\" icon=1"
  expect_line 'quiet'
  expect_not_installed "$name"
}
case_missing_zett() { missing_case NoZett ZETT; }
case_missing_kmdl() { missing_case NoKmdl KMDL; }
case_missing_saver() { missing_case NoSaver SAVER; }

# Two ranges of the installer's own bytes are written over the new file; a
# first target of 0 turns the first range off.
# patch_case NAME TARGET1 [MANIFEST_TARGET1]: the first target as the
# installer sees it, and as the manifest says when it differs.
patch_case() {
  local name=$1 target1=$2
  local stub_at
  stub_at=$(stat -c %s "$WORK/saver.scr")
  local target2=$((stub_at + 1000))
  EXTRA_ENTRIES="[[installer.patch]]
source = 64
target = ${3:-$target1}
length = 100
[[installer.patch]]
source = 1024
target = $target2
length = 300" write_manifest "saver-name=\"$name\""
  build_installer
  # PatchTarget1 (at 3856) of 0 turns the first range off.
  [ "$target1" -eq 0 ] && replace_info 3856=0
  reset_prefix "$name"
  run_installer "" main quiet:0.5 gone "query:$name"
  expect_line 'quiet'
  expect_installed "$name" "$name screensaver"
  local scr=$WINDIR/$name.scr src=$WORK/installer.exe
  check "second range copied" cmp -s <(tail -c +1025 "$src" | head -c 300) <(tail -c +$((target2 + 1)) "$scr" | head -c 300)
  if [ "$target1" -ne 0 ]; then
    check "first range copied" cmp -s <(tail -c +65 "$src" | head -c 100) <(tail -c +$((target1 + 1)) "$scr" | head -c 100)
  fi
  # Everything else of the stub's bytes is as copied.
  cmp -l "$WORK/stub.bin" <(tail -c +$((stub_at + 1)) "$scr" | head -c "$(stat -c %s "$WORK/stub.bin")") |
    awk -v a="$stub_at" -v t1="$target1" -v t2="$target2" '{ o = a + $1 - 1
      if (!((o >= t1 && o < t1 + 100 && t1 != 0) || (o >= t2 && o < t2 + 300))) bad++ }
      END { exit bad > 0 }'
  check "no bytes changed outside the ranges" test "${PIPESTATUS[1]}" -eq 0
}
case_patch_ranges() {
  local stub_at
  stub_at=$(stat -c %s "$WORK/saver.scr")
  patch_case Patched $((stub_at + 200))
}
case_patch_second_only() {
  local stub_at
  stub_at=$(stat -c %s "$WORK/saver.scr")
  patch_case PatchTwo 0 $((stub_at + 200))
  # Nothing of the first range reached its target in the manifest either.
  check "first range not copied" cmp -s <(tail -c +$((stub_at + 201)) "$WINDIR/PatchTwo.scr" | head -c 100) \
    <(head -c 100 "$WORK/stub.bin")
}

# Installed and registered for uninstall, but not made the screensaver.
case_do_not_activate() {
  write_manifest 'saver-name="Passive"' 'activate=false'
  install_quietly Passive
  expect_installed Passive "Passive screensaver" inactive
}

# A long name with blanks: system.ini gets the 8.3 name; the display name
# keeps a "Screen Saver" it already has; the uninstall command and the
# command that starts the screensaver are unquoted.
case_long_name() {
  local name="Starfield Screen Saver"
  write_manifest "saver-name=\"$name\"" 'after-install="start-saver"'
  install_quietly "$name"
  expect_installed "$name" "$name"
  # The unquoted command line still finds the file: the blanks are tried in
  # turn. Wine puts quotes around a path it found that way.
  local path="C:\\windows\\$name.scr"
  expect_record "started $path cmdline=[\"$path\" /s]"
  rm -f "$WINDIR/$name.scr"
}

# The 9x family writes system.ini through the single-byte interface; the
# result is the same entry.
case_windows_98() {
  write_manifest 'saver-name="Ninety8"' 'finish="Ninety8 is now your screensaver."' 'after-install="start-saver"'
  build_installer
  reset_prefix Ninety8 "regset:$APP_DEFAULTS:Version=win98"
  run_installer "" box answer gone query:Ninety8
  expect_installed Ninety8 "Ninety8 screensaver"
  expect_record 'started C:\windows\Ninety8.scr cmdline=[C:\windows\Ninety8.scr /s]'
}

e2e_main "$@"
