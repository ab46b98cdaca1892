#!/usr/bin/env bash
# The decoder's output on the streams kept in the tree, picture by picture,
# against the checksums kept beside them (scripts/make-golden-streams).
# Usage: golden_test.sh H263-DECODE STREAMS-DIR
set -u
decode=$1
dir=$2
status=0
count=0
for stream in "$dir"/*.263; do
  name=$(basename "$stream" .263)
  if ! got=$("$decode" --md5 "$stream" 2> /dev/null); then
    echo "FAIL $name: the decoder failed"
    status=1
    continue
  fi
  if ! diff <(echo "$got") "$dir/$name.md5" > /dev/null; then
    echo "FAIL $name: pictures differ from the kept checksums:"
    diff <(echo "$got") "$dir/$name.md5" | head -6
    status=1
  fi
  count=$((count + 1))
done
[ "$count" -ge 12 ] || { echo "FAIL: only $count streams in $dir"; status=1; }
[ $status = 0 ] && echo "golden streams: $count streams, every picture as kept"
exit $status
