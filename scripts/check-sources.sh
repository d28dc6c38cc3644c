#!/usr/bin/env bash
# Source rules that the compilers do not enforce: the library uses bounded copies only,
# and each folder of src/ includes only its own folder and the folders below it.
set -euo pipefail
cd "$(dirname "$0")/.."

# The layer order, lowest first; the folders of one line are one level and do not include
# each other. The only other includes allowed, as "from>to": the frame reads properties
# through the session, and the response files use the registry's classes.
layers=(
  "platform"
  "trust"
  "frame"
  "session"
  "registry runtime process response"
  "actions"
)
allowed="frame>session response>registry"

status=0
banned=$(grep -rn -E '\b(strcpy|strcat|sprintf|vsprintf|wsprintfA?|lstrcpyA?|lstrcatA?|gets)\s*\(' src || true)
if [ -n "$banned" ]; then
  echo "FAIL: unbounded string functions in src/ (use the bounded helpers of platform/bounded.h):"
  echo "$banned"
  status=1
else
  echo "ok: src/ uses bounded string functions only"
fi

# Lines `file:line:#include "folder/..."`; a folder that is not one of src/ (winsim/) is
# outside the library, an include without a folder (a generated .inc) is the file's own.
upward=$(grep -rn -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' src |
  awk -v layers="$(printf '%s\n' "${layers[@]}")" -v allowed="$allowed" \
    -v folders="$(find src -mindepth 1 -maxdepth 1 -type d -printf '%f ')" '
  BEGIN {
    n = split(layers, row, "\n")
    for (i = 1; i <= n; i++) { m = split(row[i], name, " "); for (j = 1; j <= m; j++) level[name[j]] = i }
    m = split(allowed, pair, " "); for (j = 1; j <= m; j++) ok[pair[j]] = 1
    m = split(folders, name, " "); for (j = 1; j <= m; j++) inSrc[name[j]] = 1
  }
  {
    split($0, at, ":"); split(at[1], path, "/"); from = path[2]
    match($0, /"[^"]+"/); include = substr($0, RSTART + 1, RLENGTH - 2)
    to = substr(include, 1, index(include, "/") - 1)
    if (!(to in level) && !(to in inSrc)) next
    if (to == from || (from ">" to) in ok || (from in level && to in level && level[to] < level[from])) next
    print at[1] ":" at[2] " -> " include ((from in level && to in level) ? "" : " (folder not in the layer table)")
  }' | sort -t: -k1,1 -k2,2n || true)
if [ -n "$upward" ]; then
  order=$(printf '%s < ' "${layers[@]}")
  echo "FAIL: includes against the layer order (${order% < }):"
  echo "$upward"
  status=1
else
  echo "ok: src/ folders include only their own and lower layers"
fi
exit $status
