#!/usr/bin/env bash
# Fails on a library that uses a symbol which only a library above it
# defines. Arguments: the libraries in layer order, the top one first. The
# global objects are the program's, defined at the top for every layer.
set -euo pipefail
rank=0
for library in "$@"; do
  rank=$((rank + 1))
  nm -g --defined-only "$library" | awk -v r=$rank -v l="$library" 'NF == 3 { print r, l, "D", $3 }'
  nm -u "$library" | awk -v r=$rank -v l="$library" '$1 == "U" { print r, l, "U", $2 }'
done | awk '
  BEGIN { split("Log EventLog Ini PrcList Service", g, " "); for (i in g) program[g[i]] = 1 }
  $3 == "D" && $1 > deepest[$4] { deepest[$4] = $1 }
  $3 == "U" { uses[++n] = $0 }
  END {
    for (i = 1; i <= n; i++) {
      split(uses[i], u, " ")
      if ((u[4] in deepest) && deepest[u[4]] < u[1] && !(u[4] in program)) { print u[2] ": " u[4]; bad++ }
    }
    if (bad) { print bad " symbol(s) reach up the layers"; exit 1 }
  }'
