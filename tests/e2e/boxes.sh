#!/usr/bin/env bash
# What the user sees: the finish box, the standard question and the question
# dialog with its own labels, the progress dialog, the damaged-installer text
# and the test offer. Screenshots of the boxes go to BUILD/screenshots.
source "$(dirname "$0")/lib.sh"

# A run that installs NAME and shows the finish text, whose box is answered.
case_plain() {
  write_manifest 'saver-name="Plain"' 'finish="Plain is now your screensaver."'
  build_installer
  reset_prefix Plain
  run_installer "" main box hold:finish-box answer quiet:1 gone query:Plain
  expect_line 'main visible=0'
  # The box must end on the answer alone, without any further input arriving.
  expect_line 'answered'
  expect_line 'box message caption="Plain" text="Plain is now your screensaver." buttons="OK" icon=1'
  expect_line 'quiet'
  expect_installed Plain "Plain screensaver"
  expect_no_record
}

# The standard Yes/No question: Yes installs, No and the answer-box message
# (its default is No) install nothing and show no further text.
question_case() {
  local name=$1 shot=$2
  shift 2
  write_manifest "saver-name=\"$name\"" "question=\"Install the $name screensaver?\"" \
    "finish=\"$name is now your screensaver.\"" "failure=\"$name could not be installed.\""
  build_installer
  reset_prefix "$name"
  run_installer "" box hold:"$shot" "$@" gone "query:$name"
  expect_line "box message caption=\"$name\" text=\"Install the $name screensaver?\" buttons=\"Yes|No\" icon=1"
}
case_question_yes() {
  question_case Asked question-standard press:Yes box answer
  expect_line 'box message caption="Asked" text="Asked is now your screensaver." buttons="OK" icon=1'
  expect_installed Asked "Asked screensaver"
}
case_question_no() {
  question_case Refused question-standard-no press:No quiet:1.5
  expect_line 'quiet'
  expect_not_installed Refused
}
case_question_answered() {
  question_case Dismissed question-standard-answered answer quiet:1.5
  expect_line 'quiet'
  expect_not_installed Dismissed
}

# Own labels give the question dialog instead of the standard box.
labels_case() {
  local name=$1 yes=$2 no=$3 buttons=$4 shot=$5
  shift 5
  local settings=("saver-name=\"$name\"" "question=\"Install the $name screensaver?\"" "yes=\"$yes\""
    "finish=\"$name is now your screensaver.\"")
  [ -n "$no" ] && settings+=("no=\"$no\"")
  write_manifest "${settings[@]}"
  build_installer
  reset_prefix "$name"
  run_installer "" box hold:"$shot" "$@" gone "query:$name"
  expect_line "box question caption=\"$name\" text=\"Install the $name screensaver?\" buttons=\"$buttons\" icon=1"
}
case_labels_accepted() {
  labels_case Labelled Install "Not now" "Install|Not now" question-custom press:Install box answer
  expect_line 'box message caption="Labelled" text="Labelled is now your screensaver." buttons="OK" icon=1'
  expect_installed Labelled "Labelled screensaver"
}
case_labels_declined() {
  labels_case LabelNo Install "Not now" "Install|Not now" question-custom-no "press:Not now" quiet:1.5
  expect_line 'quiet'
  expect_not_installed LabelNo
}
case_labels_answered() {
  labels_case LabelAns Install "Not now" "Install|Not now" question-custom-answered answer quiet:1.5
  expect_line 'quiet'
  expect_not_installed LabelAns
}
# A label that differs from "Yes" only in case is a label of its own; the
# other button keeps "No".
case_labels_yes_only() {
  labels_case LowerYes yes "" "yes|No" question-lower-yes press:yes box answer
  expect_installed LowerYes "LowerYes screensaver"
}

# A payload of several MB, compressed, runs inside the progress dialog: the
# bar moves over the range computed from the payload, the dialog closes, and
# the finish text follows.
progress_case() {
  local name=$1 step=$2
  seq 1 150000 | awk '{print "frame " $1 " " ($1 * 7919) % 104729}' >"$WORK/movie.bin"
  ENTRIES=$(standard_entries | sed 's/^file = "movie.bin"$/file = "movie.bin"\ncompression = "lzhuf"/') \
    write_manifest "saver-name=\"$name\"" 'show-progress=true' "progress=\"Installing $name...\"" \
    "finish=\"$name is now your screensaver.\""
  build_installer
  reset_prefix "$name"
  run_installer "" "$step" box answer gone "query:$name"
  local range summary
  range=$(progress_range "$WORK/installer.exe")
  expect_line "progress caption=\"$name\" text=\"Installing $name...\" range=0..$range captionbar=0"
  summary=$(grep '^progress positions=' "$WORK/driver.out")
  check "the bar moved several times, always forward: $summary" \
    bash -c '[[ "$1" =~ positions=([0-9]+)\ rising=1 ]] && [ "${BASH_REMATCH[1]}" -ge 3 ]' _ "$summary"
  check "the progress dialog closed before the finish box" \
    awk -v box="box message caption=\"$name\" text=\"$name is now" \
    '/^progress positions=/ { closed = NR } index($0, box) == 1 { shown = NR } END { exit !(closed && shown > closed) }' \
    "$WORK/driver.out"
  expect_installed "$name" "$name screensaver"
}
case_progress() { progress_case Progress progress-hold:progress-dialog; }
# The answer-box message in the middle of the copy, with no box open: handled
# while the dialog is still up, and it changes nothing.
case_progress_answered() {
  progress_case Busy progress-answer
  expect_line 'progress answer handled=1 dialog-open=1'
}

# The bar's upper end: the expanded sizes of the compressed entries that the
# installer counts, in KiB.
progress_range() {
  entries "$1" | awk '
    BEGIN { split("SAVER STUB MOVIE ZETT LESMI PREVIEWB PREVIEWF VERL ADDL PSSB", n, " ")
            for (i in n) counted[n[i]] = 1
            for (i = 0; i < 16; ++i) counted["ADDL" i] = 1 }
    counted[toupper($1)] && $5 != $6 { total += $6 }
    END { printf "%d\n", int(total / 1024) % 65536 }'
}

# With no progress text the installation runs without the dialog.
case_progress_without_text() {
  write_manifest 'saver-name="NoBar"' 'show-progress=true' 'finish="NoBar is now your screensaver."'
  build_installer
  reset_prefix NoBar
  run_installer "" box progress-seen answer gone query:NoBar
  expect_line 'progress-seen=0'
  expect_installed NoBar "NoBar screensaver"
}

# The stub with a few bytes that hold no directory: only the damaged-file text,
# with the title still empty; nothing is installed.
case_damaged() {
  { cat "$STUB"; printf 'not a payload directory, just forty-odd bytes of text'; } >"$WORK/installer.exe"
  reset_prefix Damaged
  local before
  before=$(ls "$WINDIR")
  run_installer "" box hold:damaged answer quiet:1.5 gone "reg:$SCREENSAVE_ACTIVE" "ini:$BOOT_SAVER"
  expect_line "box message caption=\"\" text=\"$DAMAGED_TEXT\" buttons=\"OK\" icon=1"
  expect_line 'quiet'
  check_eq "files in the Windows directory" "$before" "$(ls "$WINDIR")"
  check_eq "system.ini [boot] SCRNSAVE.EXE" "" "$(system_ini_saver)"
}

# No test offer after a failed installation.
case_test_after_failure() {
  write_manifest 'saver-name="TestFail"' 'failure="TestFail could not be installed."'
  build_installer
  "$BUILD/e2e_archive_edit" "$WORK/installer.exe" rename KMDL KMDLX || fail "rename KMDL"
  reset_prefix TestFail
  run_installer -test box answer quiet:1.5 gone query:TestFail
  expect_line 'box message caption="TestFail" text="TestFail could not be installed." buttons="OK" icon=1'
  expect_line 'quiet'
  expect_not_installed TestFail
}

# "-test" after an installation without post-install action offers the test;
# OK starts the installed screensaver with "/s"; Cancel and the answer-box
# message (its default is Cancel) start nothing.
test_case() {
  local name=$1 shot=$2
  shift 2
  write_manifest "saver-name=\"$name\"" "finish=\"$name is now your screensaver.\""
  build_installer
  reset_prefix "$name"
  run_installer -test box answer box hold:"$shot" "$@" quiet:1 gone "query:$name"
  expect_line "box message caption=\"$name\" text=\"$name is now your screensaver.\" buttons=\"OK\" icon=1"
  # The icon of this box is left open (there is no icon 201); the rest is exact.
  check "the test box" grep -Fq "box message caption=\"Lumaveil\" text=\"$TEST_TEXT\" buttons=\"OK|Cancel\" icon=" \
    "$WORK/driver.out"
  expect_installed "$name" "$name screensaver"
}
case_test_ok() {
  test_case TestOk test-box press:OK
  expect_record 'started C:\windows\TestOk.scr cmdline=[C:\windows\TestOk.scr /s]'
}
case_test_cancel() {
  test_case TestNo test-box-cancel press:Cancel
  expect_no_record
}
case_test_answered() {
  test_case TestAns test-box-answered answer
  expect_no_record
}

e2e_main "$@"
