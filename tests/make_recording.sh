#!/usr/bin/env bash
# Makes a test recording: MPEG-2 program stream built from show segments
# (testsrc2 + 440 Hz), ad segments (life + 1 kHz) and one-second black,
# silent gaps between them.
#   make_recording.sh [-v mpeg2|h264|hevc|h264-long|h264-open|hevc-cra|mpeg2-open] [-a mp2|ac3|aac] [-r RATE] [-f ps|ts] [-g GOP] [-k KEYINT]
#                     [-i] [-2] [-o SECONDS] [-s WxH] OUT LAYOUT
# LAYOUT is a list like "show:150 ad:60 show:150"; a gap is put between
# neighbouring segments. Sizes are small so the tools run fast in CI. The
# default is MPEG-2 with MP2 in a program stream at 30000/1001 fps.
# -o moves every timestamp of the output on by SECONDS, so that a second
# recording, appended byte for byte, carries on the first one's clock or leaps
# ahead of it as a broadcast's does. -k sets the key-frame interval of H.264
# and HEVC (default 15), -i codes the pictures interlaced, -2 adds a second
# sound track (English beside German, as a second language or audio
# description is sent). -s sets the picture's size (default 352x240).
set -euo pipefail
vcodec=mpeg2; acodec=mp2; rate=30000/1001; format=ps; gop=5; keyint=15; offset=(); interlaced=(); tracks=1; size=352x240
while getopts v:a:r:f:g:k:o:s:i2 opt; do
  case $opt in
    v) vcodec=$OPTARG ;; a) acodec=$OPTARG ;; r) rate=$OPTARG ;; f) format=$OPTARG ;; g) gop=$OPTARG ;;
    k) keyint=$OPTARG ;; i) interlaced=(-flags +ildct+ilme -top 1) ;; 2) tracks=2 ;;
    o) offset=(-output_ts_offset "$OPTARG") ;; s) size=$OPTARG ;;
    *) exit 2 ;;
  esac
done
options=("${@:1:OPTIND-1}")
shift $((OPTIND - 1))
out=$1; shift
layout=${*:-"show:150 ad:60 show:150"}

# With TRIMLET_RECORDING_CACHE set (the test suite sets it to a folder of its
# build tree), each recording is made once per build and copied after that.
# The key is this script's own text and every argument but OUT; the ads'
# pattern has a fixed seed, so a cached recording is the one this script
# would make now. Tests side by side wait for one another's making of the
# same recording rather than make it twice.
if [ -n "${TRIMLET_RECORDING_CACHE:-}" ]; then
  mkdir -p "$TRIMLET_RECORDING_CACHE"
  key=$( { cat "$0"; printf '%s\n' "${options[@]+"${options[@]}"}" "$layout"; } | sha256sum | cut -c1-32)
  cached="$TRIMLET_RECORDING_CACHE/$key"
  exec 9>"$cached.lock"
  flock 9
  if [ ! -s "$cached" ]; then
    TRIMLET_RECORDING_CACHE="" bash "$0" "${options[@]+"${options[@]}"}" "$cached.part" "$layout"
    mv -f "$cached.part" "$cached"
  fi
  cp --reflink=auto "$cached" "$out"
  exit 0
fi
inputs=()
filters=""
n=0
add() { # kind seconds
  local kind=$1 secs=$2
  case $kind in
    show) inputs+=(-f lavfi -i "testsrc2=size=$size:rate=$rate:duration=$secs"
                   -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$secs") ;;
    ad)   inputs+=(-f lavfi -t "$secs" -i "life=size=$size:rate=$rate:seed=1:mold=10:ratio=0.5:death_color=#C83232:life_color=#00ff00"
                   -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=$secs") ;;
    gap)  inputs+=(-f lavfi -i "color=c=black:size=$size:rate=$rate:duration=$secs"
                   -f lavfi -i "anullsrc=channel_layout=mono:sample_rate=48000:d=$secs") ;;
  esac
  filters+="[$((2*n)):v]format=yuv420p,setsar=1[v$n];[$((2*n+1)):a]aformat=sample_rates=48000:channel_layouts=mono[a$n];"
  n=$((n+1))
}
first=1
for seg in $layout; do
  [ $first = 1 ] || add gap 1
  first=0
  add "${seg%%:*}" "${seg##*:}"
done
concat=""
for ((i=0; i<n; i++)); do concat+="[v$i][a$i]"; done
filters+="${concat}concat=n=$n:v=1:a=1[v][a]"
maps=(-map "[v]" -map "[a]")
if [ "$tracks" = 2 ]; then
  filters+=";[a]asplit=2[a1][a2]"
  maps=(-map "[v]" -map "[a1]" -map "[a2]" -metadata:s:a:0 language=deu -metadata:s:a:1 language=eng)
fi
case $vcodec in
  mpeg2) video=(-c:v mpeg2video -b:v 1200k -maxrate 2000k -bufsize 1835k -g "$gop") ;;
  h264)  video=(-c:v libx264 -preset ultrafast -b:v 1200k -maxrate 2000k -bufsize 2000k -g "$keyint" -pix_fmt yuv420p) ;;
  hevc)  video=(-c:v libx265 -preset ultrafast -b:v 1200k -x265-params "keyint=$keyint:log-level=error" -pix_fmt yuv420p) ;;
  # Long fixed groups of pictures with B-frames, as IPTV and satellite
  # channels send: closed (IDR key frames), open (I-frames with a recovery
  # point), HEVC with CRA key frames, MPEG-2 with open GOPs.
  h264-long) video=(-c:v libx264 -preset veryfast -b:v 1200k -pix_fmt yuv420p
                    -x264-params "keyint=$keyint:min-keyint=$keyint:scenecut=0") ;;
  h264-open) video=(-c:v libx264 -preset veryfast -b:v 1200k -pix_fmt yuv420p
                    -x264-params "keyint=$keyint:min-keyint=$keyint:scenecut=0:open-gop=1") ;;
  hevc-cra)  video=(-c:v libx265 -preset superfast -b:v 1200k -pix_fmt yuv420p
                    -x265-params "keyint=$keyint:min-keyint=$keyint:scenecut=0:open-gop=1:log-level=error") ;;
  mpeg2-open) video=(-c:v mpeg2video -b:v 2500k -maxrate 4000k -bufsize 1835k -g "$gop" -bf 2) ;;
esac
case $acodec in
  mp2) audio=(-c:a mp2 -b:a 192k) ;;
  ac3) audio=(-c:a ac3 -b:a 192k) ;;
  aac) audio=(-c:a aac -b:a 128k) ;;
esac
case $format in
  ps) container=(-f vob) ;;
  ts) container=(-f mpegts) ;;
esac
ffmpeg -nostdin -loglevel fatal -y "${inputs[@]}" -filter_complex "$filters" \
  "${maps[@]}" "${video[@]}" ${interlaced[@]+"${interlaced[@]}"} "${audio[@]}" -ac 2 \
  ${offset[@]+"${offset[@]}"} "${container[@]}" "$out"
