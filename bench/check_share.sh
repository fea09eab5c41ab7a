#!/usr/bin/env bash
# What checking a copy costs beside detecting and cutting it, in CPU
# seconds, measured on generated recordings in one run on this machine (a
# benchmark, not a test). trimlet-cli runs each recording whole (comskip,
# the frame-exact cut, every check) with the outside tools wrapped so that
# each run's user and system time is noted, and sorted by what it was for:
#   detect  comskip;
#   cut     the cut's index of the recording (packets with their headers),
#           the pieces encoded anew and the join;
#   check   everything else the run asked of ffprobe and ffmpeg (the
#           recording's and the copy's packets, their streams, the sound
#           and the pictures decoded at the joins);
#   own     trimlet-cli's own time (its time less that of the tools it
#           waited for, which its own counts, so with the wrappers' own):
#           the reading of a transport stream's packets, which is part of
#           the check, and all else it does.
# The shares are check / (detect + cut), and the same with own added.
# Usage: bench/check_share.sh [KIND...]  (sd-ps, sd-ts, sd-h264; default all)
# BENCH_CACHE keeps the recordings between runs (default
# ~/.cache/trimlet-bench/share); TRIMLET_CLI names the binary (default
# build/trimlet-cli).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cli=${TRIMLET_CLI:-$here/build/trimlet-cli}
cache=${BENCH_CACHE:-$HOME/.cache/trimlet-bench/share}
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(sd-ps sd-ts sd-h264)

mkdir -p "$work/bin"
for tool in ffmpeg ffprobe comskip mencoder; do
  real=$(command -v "$tool") || continue
  cat > "$work/bin/$tool" <<WRAP
#!/usr/bin/env bash
t=\$(mktemp)
/usr/bin/time -o "\$t" -f '%U %S' "$real" "\$@"
rc=\$?
printf '%s %s\t%s\n' "$tool" "\$(tail -n 1 "\$t")" "\$*" >> "\$CALL_LOG"
rm -f "\$t"
exit \$rc
WRAP
  chmod +x "$work/bin/$tool"
done

printf '%-8s %8s %8s %8s %8s %8s %8s\n' kind detect cut check own share +own
for kind in "${kinds[@]}"; do
  layout="show:150 ad:60 show:150 ad:45 show:150"
  case $kind in
    sd-ps) opts=() ;;
    sd-ts) opts=(-f ts -i -2) ;;
    sd-h264) opts=(-v h264 -a aac -f ts) ;;
    *) echo "unknown kind $kind" >&2; exit 2 ;;
  esac
  ext=ts
  [ "$kind" = sd-ps ] && ext=mpg
  rec="$cache/$kind.$ext"
  [ -s "$rec" ] || bash "$here/tests/make_recording.sh" "${opts[@]+"${opts[@]}"}" "$rec" "$layout"
  dir="$work/$kind"
  mkdir -p "$dir"
  cp --reflink=auto "$rec" "$dir/rec.$ext"
  export CALL_LOG="$work/$kind.calls"
  : > "$CALL_LOG"
  PATH="$work/bin:$PATH" /usr/bin/time -o "$work/own" -f '%U %S' "$cli" --quiet "$dir/rec.$ext" \
    >/dev/null 2>"$work/err" || true
  own=$(tail -n 1 "$work/own")
  [ -s "$dir/rec.clean.$ext" ] || { echo "$kind: no copy was kept" >&2; cat "$work/err" >&2; exit 1; }
  [ -n "${BENCH_VERBOSE:-}" ] && { echo "own: $own"; cut -c1-220 "$CALL_LOG"; }
  awk -v own="$own" '
    { split($0, f, "\t"); split(f[1], a, " "); cpu = a[2] + a[3]; args = f[2]
      if (a[1] == "comskip") d += cpu
      else if (args ~ /-progress pipe:1/ || args ~ /stream=codec_name/ || a[1] == "mencoder") c += cpu
      else k += cpu }
    END { split(own, o, " "); m = o[1] + o[2] - (d + c + k)
          printf "%-8s %8.2f %8.2f %8.2f %8.2f %7.1f%% %7.1f%%\n", kind, d, c, k, m, 100 * k / (d + c),
                 100 * (k + m) / (d + c) }
  ' kind="$kind" "$CALL_LOG"
done
