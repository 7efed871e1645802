#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into tests/fuzz/corpus with the
# tool and the damage helper of a host build:
#   make_seeds.sh BUILD
# The seeds are small on purpose: a tiny program stands in for the
# installer, so an archive is a few kilobytes.
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
tool=$build/lumaveil
damage=$build/lv_damage
corpus=$here/corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

rm -rf "$corpus"
mkdir -p "$corpus"/{reader,verify,commands,expand,roundtrip,settings,manifest,restart_edit}

# --- Archives: the damaged-installer fixture behind a 64-byte program. ---
printf 'MZ%062d' 0 >"$tmp/stub.bin"
"$tool" build "$here/../damaged/fixture/damaged.toml" --stub "$tmp/stub.bin" -o "$tmp/small.exe" >/dev/null
# Every kind of entry: inline, alias, masked plain, marker, optional entries.
fixture=$here/../damaged/fixture
cat >"$tmp/kinds.toml" <<EOF
[installer]
saver-name = "Kinds"
question = "Install?"
yes = "Go"
no = "Stop"
after-install = "open-document"
document = "C:\\\\Docs\\\\readme.txt"

[entry.SAVER]
file = "$fixture/zett.txt"
[entry.STUB]
file = "$fixture/stub.txt"
compression = "lzhuf"
[entry.MOVIE]
file = "$fixture/kmdl.txt"
compression = "none"
xor = 7
[entry.PREVIEWF]
same-as = "MOVIE"
[entry.ZETT]
file = "$fixture/zett.txt"
marker = 3
[entry.KMDL]
file = "$fixture/kmdl.txt"
[entry.PSSB]
inline = "sixteen bytes.."
[entry.LESMI]
file = "$fixture/stub.txt"
[entry.ADDTL]
inline = ""
EOF
"$tool" build "$tmp/kinds.toml" --stub "$tmp/stub.bin" -o "$tmp/kinds.exe" >/dev/null

# The reader gets the files as they are; verify and the commands get them
# with the directory plain (their fuzz paths encipher it).
for dir in reader verify commands; do
  plain=()
  [ "$dir" = reader ] || plain=(plain=directory)
  "$damage" "$tmp/small.exe" "$corpus/$dir/installer" "${plain[@]}"
  "$damage" "$tmp/kinds.exe" "$corpus/$dir/entry-kinds" "${plain[@]}"
  "$damage" "$tmp/small.exe" "$corpus/$dir/saver-checksum" flip=SAVER+12 "${plain[@]}"
  "$damage" "$tmp/small.exe" "$corpus/$dir/kmdl-offset-negative" set=KMDL.offset=-8 "${plain[@]}"
  "$damage" "$tmp/small.exe" "$corpus/$dir/saver-size-outside" set=SAVER.stored=0x10000000 "${plain[@]}"
  "$damage" "$tmp/small.exe" "$corpus/$dir/info-6000" info=6000 "${plain[@]}"
  printf 'not an archive' >"$corpus/$dir/text"
  [ "$dir" = commands ] && continue
  "$damage" "$tmp/small.exe" "$corpus/$dir/cut-dir-one-record" keep=end-40
  "$damage" "$tmp/small.exe" "$corpus/$dir/thirty-three-records" records=33
  "$damage" "$tmp/small.exe" "$corpus/$dir/claims-255" 'set=#0.lead=255'
  : >"$corpus/$dir/empty"
done

# --- Streams: lengths around the block edges, then damaged ones. ---
head -c 0 /dev/zero >"$tmp/0"
printf 'A' >"$tmp/1"
printf 'seven b' >"$tmp/7"
printf 'eight by' >"$tmp/8"
cp "$fixture/movie.txt" "$tmp/text"
# Bytes that do not compress make a body of more than one full block.
awk 'BEGIN { srand(7); for (i = 0; i < 12000; i++) printf "%c", int(rand() * 256) }' >"$tmp/noise"
# Enough symbols for the adaptive code to rescale its weights.
seq 1 15000 >"$tmp/many-symbols"
for f in 0 1 7 8 text noise many-symbols; do "$tool" compress "$tmp/$f" "$corpus/expand/stream-$f" >/dev/null; done
head -c 40 "$corpus/expand/stream-text" >"$corpus/expand/cut-short"
cp "$corpus/expand/stream-text" "$corpus/expand/flipped-code"
printf '\xff' | dd of="$corpus/expand/flipped-code" bs=1 seek=30 conv=notrunc status=none
printf 'RC\xa5\x68\x06\x00' >"$corpus/expand/empty-block"
# A stream whose stated length needs more room than a sink that holds only
# what comes before its damaged second block.
cp "$corpus/expand/stream-noise" "$corpus/expand/damaged-second-block"
printf '\x00' | dd of="$corpus/expand/damaged-second-block" bs=1 seek=10300 conv=notrunc status=none

# --- Round trips: byte 0 is the mask, the rest is compressed and expanded. ---
printf '\0' >"$corpus/roundtrip/empty"
printf '\0A' >"$corpus/roundtrip/one-byte"
{ printf '\x5a'; cat "$tmp/7"; } >"$corpus/roundtrip/seven-masked"
{ printf '\0'; cat "$tmp/text"; } >"$corpus/roundtrip/text"
{ printf '\0'; head -c 10234 "$tmp/noise"; } >"$corpus/roundtrip/noise-one-block"
{ printf '\0'; head -c 30000 /dev/zero; } >"$corpus/roundtrip/zeros"

# --- Settings: byte 0 bit 0 = compressed, byte 1 = mask, then the record. ---
"$tool" extract "$tmp/small.exe" INFO -o "$tmp/info" >/dev/null
"$tool" extract "$tmp/kinds.exe" INFO -o "$tmp/kinds-info" >/dev/null
{ printf '\x01\x00'; cat "$tmp/info"; } >"$corpus/settings/compressed"
{ printf '\x00\x5a'; cat "$tmp/kinds-info"; } >"$corpus/settings/plain-masked"
{ printf '\x01\x00'; head -c 2000 "$tmp/info"; } >"$corpus/settings/short-2000"
{ printf '\x01\x00'; cat "$tmp/info"; head -c 360 /dev/zero; } >"$corpus/settings/oversize-6000"
printf '\x00\x00' >"$corpus/settings/empty-record"

# --- Manifests, naming the files the fuzz path provides. ---
cat >"$corpus/manifest/full" <<'EOF'
stub = "stub.exe"
[installer]
saver-name = "Fuzz"
question = "Install the Fuzz screensaver?"
yes = "Install"
no = "Later"
finish = "Done."
failure = "Failed."
progress = "Installing..."
show-progress = true
after-install = "open-document"
document = "C:\\Fuzz\\doc.txt"
activate = false
widen-special-char = true
[[installer.patch]]
source = 10
target = 20
length = 4
[[installer.patch]]
source = 0
target = 0
length = 0
[entry.SAVER]
file = "saver.scr"
[entry.STUB]
file = "empty.bin"
compression = "none"
xor = 0x5A
[entry.MOVIE]
file = "movie.bin"
compression = "lzhuf"
marker = 5
[entry.PREVIEWF]
same-as = "MOVIE"
[entry.ZETT]
file = "doc.txt"
[entry.VERL]
inline = "1.0"
[entry.KMDL]
file = "movie.bin"
[entry.LESMI]
file = "doc.txt"
EOF
sed 's/^\[entry.ZETT\]/[entry.PSSB]/' "$corpus/manifest/full" >"$corpus/manifest/missing-required"
printf '[installer]\nsaver-name = "A"\nrecord = "record.bin"\n[entry.SAVER]\nfile = "saver.scr"\n' \
  >"$corpus/manifest/record-template"
printf '[installer\nsaver-name = ' >"$corpus/manifest/broken-toml"
printf '[installer]\nsaver-name = "con"\n[entry]\n' >"$corpus/manifest/reserved-name"

# --- Restart files: the path of the file to delete, a NUL, the content. ---
printf 'C:\\TEMP\\doc.txt\0' >"$corpus/restart_edit/empty"
printf 'C:\\TEMP\\doc.txt\0[Rename]\r\nNUL=C:\\OLD\\a.txt\r\n' >"$corpus/restart_edit/section"
printf 'C:\\TEMP\\doc.txt\0[boot]\r\nx=1\r\n[rename]\r\nNUL=C:\\OLD\\a.txt\r\n' >"$corpus/restart_edit/lower-case"
printf 'C:\\TEMP\\doc.txt\0[Rename]\r\nnul=c:\\temp\\DOC.TXT\r\n' >"$corpus/restart_edit/present"
printf '[boot]\r\nlast line without a break' >"$corpus/restart_edit/no-break"

find "$corpus" -type f | sort | while read -r f; do printf '%7d %s\n' "$(stat -c %s "$f")" "${f#"$here"/}"; done
