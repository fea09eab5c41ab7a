#!/usr/bin/env bash
# The frame-exact cut's edges and checks, measured on generated recordings
# in one run on this machine (a benchmark, not a test):
#   - each edge's re-encoding (the ffmpeg runs that encode pictures again),
#     the slowest and the mean, in seconds of wall clock;
#   - the copy's pictures against the list (frames kept, frames expected)
#     and the decoder's complaints over the whole copy and the recording;
#   - the run (index, cut, every check) against a bare `ffmpeg -map 0 -c
#     copy` of the whole recording plus the edges' own re-encoding.
# Usage: bench/edges.sh [KIND...]   (sd-mpeg2 1080-h264 sd-hevc, and
#        sd-mpeg2-long: ten minutes with two sound tracks; default the first three)
# BENCH_CACHE keeps the recordings between runs (default
# ~/.cache/trimlet-bench/edges); TRIMLET_CLI names the binary (default
# build/trimlet-cli).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${TRIMLET_CLI:-$here/build/trimlet-cli}
cache=${BENCH_CACHE:-$HOME/.cache/trimlet-bench/edges}
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(sd-mpeg2 1080-h264 sd-hevc)

# An ffmpeg that notes how long each run took that encodes pictures again.
mkdir -p "$work/bin"
cat > "$work/bin/ffmpeg" <<'WRAP'
#!/usr/bin/env bash
real=$(PATH=${PATH#*:} command -v ffmpeg)
case " $* " in *" trim=start="*) ;; *) exec "$real" "$@" ;; esac
start=$(date +%s.%N)
"$real" "$@"; rc=$?
echo "$(date +%s.%N) $start" >> "$EDGE_LOG"
exit $rc
WRAP
chmod +x "$work/bin/ffmpeg"

seconds() { date +%s.%N; }

for kind in "${kinds[@]}"; do
  layout="show:30 ad:10 show:30 ad:10 show:30"
  case $kind in
    sd-mpeg2) opts=(-v mpeg2-open -r 25 -g 12 -i -s 720x576 -f ts) ;;
    sd-mpeg2-long) opts=(-v mpeg2-open -r 25 -g 12 -i -s 720x576 -2 -f ts)
                   layout="show:30 ad:10 show:30 ad:10 show:500" ;;
    1080-h264) opts=(-v h264-long -r 25 -k 50 -s 1920x1080 -a aac -f ts) ;;
    sd-hevc) opts=(-v hevc-cra -r 25 -k 50 -s 720x576 -a aac -f ts) ;;
    *) echo "unknown kind $kind" >&2; exit 2 ;;
  esac
  rec="$cache/$kind.ts"
  [ -s "$rec" ] || bash "$here/tests/make_recording.sh" "${opts[@]}" "$rec" "$layout"
  dir="$work/$kind"; mkdir -p "$dir"
  cp --reflink=auto "$rec" "$dir/rec.ts"
  frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$dir/rec.ts" | sed -n 1p | tr -dc 0-9)
  # Breaks whose edges lie inside groups of pictures: 30.4-41.7 s and
  # 72.2-83.3 s of the recording's 114 s (a second between parts).
  printf 'FILE PROCESSING COMPLETE %s FRAMES AT 2500\n-------------------\n760\t1042\n1805\t2082\n' "$frames" > "$dir/rec.txt"
  printf '30.40\t41.70\t0\n72.20\t83.30\t0\n' > "$dir/rec.edl"
  rm -f "$work/edges"; : > "$work/edges"
  t0=$(seconds)
  EDGE_LOG="$work/edges" PATH="$work/bin:$PATH" "$cli" --cutter frame-exact --use-existing-detection --json "$dir/rec.ts" > "$dir/out.json" 2>/dev/null || true
  t1=$(seconds)
  state=$(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))[0]; print(r["state"], "|", r["message"])' "$dir/out.json")
  t2=$(seconds)
  ffmpeg -nostdin -v error -y -i "$dir/rec.ts" -map 0 -c copy -f mpegts "$dir/bare.ts"
  t3=$(seconds)
  copy="$dir/rec.clean.ts"
  kept=0; errs=0
  if [ -s "$copy" ]; then
    kept=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$copy" | sed -n 1p | tr -dc 0-9)
    errs=$(ffmpeg -nostdin -v error -i "$copy" -map 0:v -f null - 2>&1 | wc -l)
  fi
  recerrs=$(ffmpeg -nostdin -v error -i "$dir/rec.ts" -map 0:v -f null - 2>&1 | wc -l)
  expected=$(python3 -c 'import math; f=lambda t: math.ceil(t*25-0.5); print('"$frames"' - (f(41.7)-f(30.4)) - (f(83.3)-f(72.2)))')
  python3 - "$kind" "$t0" "$t1" "$t2" "$t3" "$work/edges" "$kept" "$expected" "$errs" "$recerrs" "$state" <<'PY'
import sys
kind, t0, t1, t2, t3, edges, kept, expected, errs, recerrs, state = sys.argv[1:]
runs = [float(a) - float(b) for a, b in (l.split() for l in open(edges) if l.strip())]
run, bare = float(t1) - float(t0), float(t3) - float(t2)
enc = sum(runs)
print(f"{kind}: {state}")
print(f"  edges re-encoded: {len(runs)}, slowest {max(runs, default=0):.2f} s, mean {enc / max(1, len(runs)):.2f} s")
print(f"  frames kept {kept}, expected {expected}; decoder errors: copy {errs}, recording {recerrs}")
print(f"  run {run:.2f} s against bare copy {bare:.2f} s + edges {enc:.2f} s: {run / (bare + enc):.2f}x")
PY
done
