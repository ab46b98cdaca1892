#!/usr/bin/env bash
# The h263-decode tool on a real stream, and its answers to bad arguments.
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=176x144:rate=30000/1001" -frames:v 5 \
  -c:v h263 -threads 1 -f h263 "$work/in.h263" || fail "ffmpeg could not make a stream"
# A rejected picture in the middle: an extended header with an unknown UFEP.
printf '\x00\x00\x80\x03\xff\xff' >> "$work/in.h263"

out=$("$tool" --y4m "$work/out.y4m" "$work/in.h263") || fail "decoding failed"
echo "$out" | grep -q "^picture 1: 176x144$" || fail "size not reported: $out"
echo "$out" | grep -q "^5 pictures decoded, 1 rejected$" || fail "counts wrong: $out"
head -c 10 "$work/out.y4m" | grep -q "YUV4MPEG2" || fail "no Y4M header"
header=$(head -n 1 "$work/out.y4m" | wc -c)
expected=$((header + 5 * (6 + 176 * 144 * 3 / 2)))
[ "$(stat -c %s "$work/out.y4m")" -eq "$expected" ] || fail "Y4M size is not that of 5 frames"

"$tool" --yuv "$work/out.yuv" - < "$work/in.h263" > /dev/null || fail "standard input failed"
[ "$(stat -c %s "$work/out.yuv")" -eq $((176 * 144 * 3 / 2 * 5)) ] || fail "raw size wrong"

"$tool" "$work/missing.h263" > /dev/null 2>&1
[ $? -eq 2 ] || fail "missing input must exit with 2"
"$tool" --bogus "$work/in.h263" > /dev/null 2>&1
[ $? -eq 2 ] || fail "unknown option must exit with 2"
"$tool" --yuv > /dev/null 2>&1
[ $? -eq 2 ] || fail "missing output name must exit with 2"
"$tool" --yuv "$work/no/such/dir/out.yuv" "$work/in.h263" > /dev/null 2>&1
[ $? -eq 2 ] || fail "unwritable output must exit with 2"
# Snapshots: the area the viewer shows, upright and turned.
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=368x288:rate=30000/1001" -frames:v 3 \
  -c:v h263p -threads 1 -f h263 "$work/wide.h263" || fail "ffmpeg could not make a stream"
size() { ffprobe -v error -show_entries stream=width,height -of csv=p=0 "$1"; }
"$tool" --jpeg "$work/a.jpg" --frame 2 "$work/wide.h263" > /dev/null || fail "snapshot failed"
[ "$(size "$work/a.jpg")" = "360,288" ] || fail "upright snapshot is $(size "$work/a.jpg")"
"$tool" --jpeg "$work/b.jpg" --frame 0 --rotate "$work/wide.h263" > /dev/null || fail "turned snapshot failed"
[ "$(size "$work/b.jpg")" = "288,360" ] || fail "turned snapshot is $(size "$work/b.jpg")"
"$tool" --jpeg "$work/c.jpg" --frame 0 "$work/in.h263" > /dev/null || fail "QCIF snapshot failed"
[ "$(size "$work/c.jpg")" = "176,144" ] || fail "QCIF snapshot is $(size "$work/c.jpg")"
"$tool" --jpeg "$work/d.jpg" --frame 3 "$work/wide.h263" > /dev/null 2>&1
[ $? -eq 1 ] || fail "a picture beyond the stream must exit with 1"
[ ! -e "$work/d.jpg" ] || fail "no file may be left for a picture beyond the stream"
"$tool" --jpeg "$work/e.jpg" "$work/wide.h263" > /dev/null 2>&1
[ $? -eq 2 ] || fail "--jpeg without --frame must exit with 2"
"$tool" --jpeg "$work/no/dir/f.jpg" --frame 0 "$work/wide.h263" > /dev/null 2>&1
[ $? -eq 1 ] || fail "an unwritable snapshot must exit with 1"
echo "h263-decode: all checks passed"
