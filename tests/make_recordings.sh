#!/usr/bin/env bash
# Fills the recording cache (TRIMLET_RECORDING_CACHE) with every recording
# the suite makes, side by side on every core, before the tests that cut
# them start: the suite runs this once per build as the fixture they share.
# Each line below is make_recording.sh's arguments but OUT as a test gives
# them, options first and the layout last, so that the cache's key is the
# one the test's own call computes; a recording left out here, or listed
# with other arguments, is still made by the test that asks for it.
#   make_recordings.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
: "${TRIMLET_RECORDING_CACHE:?the cache folder is not set}"
# Without ffmpeg the tests that cut real recordings skip themselves.
command -v ffmpeg >/dev/null || exit 0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

rec() { # options... layout
  local out
  out=$(mktemp "$scratch/rec.XXXXXX")
  bash "$here/make_recording.sh" "${@:1:$#-1}" "$out" "${@: -1}"
  printf '%s\n' "$out"
}

# Two recordings joined as tst_e2e_faults joins them: the second's clock goes
# on LEAP seconds after the first's end, at the second's own options.
joined() { # first-layout second-layout leap second-options...
  local first=$1 second=$2 leap=$3 a duration
  shift 3
  a=$(rec -f ts "$first")
  duration=$(ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 "$a" | head -n 1 | cut -d, -f1)
  rm -f "$(rec -f ts -o "$(awk -v d="$duration" -v l="$leap" 'BEGIN { printf "%.6f", d + l }')" "$@" "$second")"
  rm -f "$a"
}

one() {
  case $1 in
    rate-change) joined "show:150 ad:30" "ad:30 show:150" 0 -r 60000/1001 ;;
    clock-leap) joined "show:150 ad:60 show:75" "show:75" 29700 ;;
    *) rm -f "$(eval "rec $1")" ;;
  esac
}
export -f rec joined one
export here scratch

# The slowest first, so that neither core is left with a long one at the end.
xargs -d '\n' -P "$(nproc)" -I{} bash -c 'one "$1"' _ {} <<'EOF'
-v hevc -a ac3 -f ts -2 -s 176x120 "show:150 ad:60 show:150"
-v h264 -a aac -f ts "show:150 ad:60 show:150"
-v h264 -a ac3 -f ts "show:150 ad:60 show:150"
-v h264 -a aac -f ts -k 60 "show:150 ad:60 show:150"
-r 60000/1001 "show:150 ad:60 show:150"
rate-change
clock-leap
"show:150 ad:45 show:150 ad:45 show:150"
"show:120 ad:30 show:120 ad:30 show:120"
"show:150 ad:60 show:150"
-f ts "show:150 ad:60 show:150"
-f ts -i -2 "show:150 ad:60 show:150"
-a ac3 -f ts -2 "show:20 ad:10 show:20"
"show:200"
"show:170"
-v h264 -a aac -f ts "show:20 ad:10 show:20 ad:10 show:20"
-f ts -2 "show:40 ad:20 show:40"
"show:20 ad:10 show:20"
-f ts "show:30 ad:10"
-v h264 -a aac -f ts "show:30 ad:10"
"show:30 ad:10"
"show:60"
-o 50000 "show:60"
-a ac3 "ad:10 show:30"
EOF
