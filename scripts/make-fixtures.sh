#!/usr/bin/env bash
# Regenerates the audio fixtures in tests/fixtures/ (or in the folder given as
# the first argument) from Debian's command-line encoders.
#
# Every file is a 440 Hz sine from ffmpeg's lavfi source, one second long, mono
# (the M4A carries it on two channels).
# The encoders run with the options that keep their output free of timestamps
# and random serial numbers, so running this again on the same Debian release
# gives the same bytes. Tag values live in scripts/fixture_tags.py (written with
# python3-mutagen); tests/fixtures/README.md lists them for the tests.
#
# Nothing is installed here. Needed: ffmpeg and python3-mutagen. Optional, one
# format each: lame, flac, vorbis-tools, speex, opus-tools, wavpack,
# musepack-tools. A format whose encoder is missing is skipped with a message
# and its old fixture, if any, is left as it was.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${1:-$ROOT/tests/fixtures}
HELPER=$ROOT/scripts/fixture_tags.py
DURATION=1
FREQUENCY=440

export LC_ALL=C.UTF-8 TZ=UTC

say()  { printf '[fixtures] %s\n' "$*"; }
skip() { printf '[fixtures] SKIPPED %s\n' "$*" >&2; SKIPPED+=("$1"); }
have() { command -v "$1" >/dev/null 2>&1; }

# python3 with mutagen: Debian's /usr/bin/python3 carries python3-mutagen even
# when another python3 comes first on PATH.
PY=""
for candidate in "${PYTHON:-}" python3 /usr/bin/python3; do
  [ -n "$candidate" ] || continue
  if "$candidate" -c 'import mutagen' >/dev/null 2>&1; then PY=$candidate; break; fi
done
[ -n "$PY" ] || { echo "make-fixtures: python3 with mutagen is needed (apt-get install python3-mutagen)" >&2; exit 1; }
have ffmpeg || { echo "make-fixtures: ffmpeg is needed (apt-get install ffmpeg)" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
NEW=$WORK/out
mkdir -p "$NEW" "$OUT"
SKIPPED=()

tag() { "$PY" "$HELPER" tag "$1"; }

FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)
FF_CLEAN=(-map_metadata -1 -fflags +bitexact -flags:a +bitexact)

# The test tone, once per sample rate in use: 16-bit mono WAV files.
for rate in 8000 11025 16000 22050 32000; do
  "${FF[@]}" -f lavfi -i "sine=frequency=$FREQUENCY:sample_rate=$rate:duration=$DURATION" \
    -ac 1 -c:a pcm_s16le "${FF_CLEAN[@]}" "$WORK/sine-$rate.wav"
done
sine() { printf '%s' "$WORK/sine-$1.wav"; }

# ---------------------------------------------------------------- MPEG ---
if have lame; then
  # 64 kbit/s: at lower rates a 22050 Hz frame is too short for the LAME Info header.
  say "MP3 (lame, 22050 Hz, 64 kbit/s CBR)"
  lame --quiet --noreplaygain -m m -b 64 "$(sine 22050)" "$WORK/plain.mp3"
  cp "$WORK/plain.mp3" "$NEW/notags.mp3"
  cp "$WORK/plain.mp3" "$NEW/id3v2.mp3" && tag "$NEW/id3v2.mp3"
  cp "$WORK/plain.mp3" "$NEW/id3v1.mp3" && tag "$NEW/id3v1.mp3"
else
  skip "notags.mp3 id3v2.mp3 id3v1.mp3: lame not found (apt-get install lame)"
fi

# ---------------------------------------------------------------- FLAC ---
if have flac; then
  say "FLAC and Ogg FLAC (flac)"
  flac --silent --force --no-padding -o "$NEW/tagged.flac" "$(sine 16000)"
  tag "$NEW/tagged.flac"
  flac --silent --force --ogg --serial-number=1001 --no-padding -o "$NEW/oggflac.oga" "$(sine 8000)"
  tag "$NEW/oggflac.oga"
else
  skip "tagged.flac oggflac.oga: flac not found (apt-get install flac)"
fi

# ---------------------------------------------------------- Ogg Vorbis ---
if have oggenc; then
  say "Ogg Vorbis (oggenc)"
  oggenc --quiet --serial 1002 -q 0 -o "$NEW/tagged.ogg" "$(sine 22050)"
  tag "$NEW/tagged.ogg"
else
  skip "tagged.ogg: oggenc not found (apt-get install vorbis-tools)"
fi

# --------------------------------------------------------------- Speex ---
if have speexenc; then
  say "Speex (speexenc, wideband)"
  speexenc -w "$(sine 16000)" "$NEW/tagged.spx" 2>/dev/null
  # speexenc has no option for the stream serial and picks a random one.
  "$PY" "$HELPER" reserial "$NEW/tagged.spx" 1003
  tag "$NEW/tagged.spx"
else
  skip "tagged.spx: speexenc not found (apt-get install speex)"
fi

# ---------------------------------------------------------------- Opus ---
if have opusenc; then
  say "Opus (opusenc)"
  opusenc --quiet --serial 1004 --bitrate 16 "$(sine 16000)" "$NEW/tagged.opus"
  tag "$NEW/tagged.opus"
else
  skip "tagged.opus: opusenc not found (apt-get install opus-tools)"
fi

# ----------------------------------------------------- ffmpeg encoders ---
say "M4A (aac), WMA (wmav2), WAV, AIFF and TrueAudio (ffmpeg)"
# Stereo on purpose: ffmpeg's MP4 muxer always writes 2 as the channel count of
# an AAC sample entry, which is where TagLib reads it from.
"${FF[@]}" -i "$(sine 22050)" -ac 2 -c:a aac -b:a 32k "${FF_CLEAN[@]}" "$NEW/tagged.m4a"
tag "$NEW/tagged.m4a"
"${FF[@]}" -i "$(sine 22050)" -c:a wmav2 -b:a 32k "${FF_CLEAN[@]}" "$NEW/tagged.wma"
tag "$NEW/tagged.wma"
cp "$(sine 8000)" "$NEW/tagged.wav"
tag "$NEW/tagged.wav"
"${FF[@]}" -i "$(sine 8000)" -c:a pcm_s16be "${FF_CLEAN[@]}" -f aiff "$NEW/tagged.aiff"
tag "$NEW/tagged.aiff"
"${FF[@]}" -i "$(sine 11025)" -c:a tta "${FF_CLEAN[@]}" -f tta "$NEW/tagged.tta"
tag "$NEW/tagged.tta"

# ------------------------------------------------------------- WavPack ---
if have wavpack; then
  say "WavPack (wavpack)"
  wavpack -q -y "$(sine 11025)" -o "$NEW/tagged.wv"
  tag "$NEW/tagged.wv"
else
  skip "tagged.wv: wavpack not found (apt-get install wavpack)"
fi

# ------------------------------------------------------------ Musepack ---
if have mpcenc; then
  say "Musepack SV8 (mpcenc, 32000 Hz: the lowest rate it takes)"
  mpcenc --silent --overwrite --telephone "$(sine 32000)" "$NEW/tagged.mpc"
  tag "$NEW/tagged.mpc"
else
  skip "tagged.mpc: mpcenc not found (apt-get install musepack-tools)"
fi

# Monkey's Audio: Debian ships no encoder for it (ffmpeg only decodes APE).
skip "tagged.ape: no Monkey's Audio encoder in Debian"

# ------------------------------------------------------------ bad input ---
say "files that are not valid audio"
printf 'This is a plain text file with an .mp3 name.\nIt holds no MPEG audio frames.\n' > "$NEW/not-audio.mp3"
: > "$NEW/empty.mp3"
printf 'Quillorn test data: neither a known extension nor a known audio header.\n' > "$NEW/unknown.xyz"
if [ -f "$NEW/tagged.flac" ]; then
  head -c 100 "$NEW/tagged.flac" > "$NEW/truncated.flac"
else
  skip "truncated.flac: it is cut from tagged.flac, which was not made"
fi

# ------------------------------------------------------- put them in place ---
for f in "$NEW"/*; do
  mv -f "$f" "$OUT/"
done

say "summary of $OUT (as mutagen reads it back)"
"$PY" "$HELPER" check "$OUT"
if [ "${#SKIPPED[@]}" -gt 0 ]; then
  say "not made this time:"
  printf '  %s\n' "${SKIPPED[@]}"
fi
