#!/usr/bin/env bash
# check-guide.sh: every fenced block in docs/host-guide.md that follows a line
#   <!-- file: docs/example/NAME -->
# equals that file, so the guide shows the example that the package test builds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
guide=$root/docs/host-guide.md
status=0
for name in host.cpp CMakeLists.txt; do
  file=docs/example/$name
  block=$(awk -v marker="<!-- file: $file -->" '
    $0 == marker { found = 1; next }
    found == 1 && /^```/ { found = 2; next }
    found == 2 && /^```/ { exit }
    found == 2 { print }' "$guide")
  if [ -z "$block" ]; then
    echo "$guide shows no block for $file"; status=1
  elif ! diff -u --label "$file" --label "the guide's block" "$root/$file" - <<<"$block"; then
    status=1
  fi
done
[ $status -eq 0 ] && echo "ok: the guide shows docs/example as it is"
exit $status
