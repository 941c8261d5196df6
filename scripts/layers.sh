#!/usr/bin/env bash
# Fails on a product #include that reaches up the layers: a file may include
# its own folder and the folders after it, and any folder above log/ may
# include the shared constants and file locations. Prints each offender.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
order=(entry scm_client service config supervision log platform)
grep -rHn --include='*.h' --include='*.cpp' --exclude='*_test.cpp' '^#include "' "${order[@]}" |
  awk -v order="${order[*]}" '
    BEGIN { n = split(order, names, " "); for (i = 1; i <= n; i++) rank[names[i]] = i }
    {
      split($0, at, ":"); split(at[1], from, "/")
      target = $0; sub(/^[^"]*"/, "", target); sub(/".*$/, "", target)
      split(target, to, "/")
      shared = target == "config/Constants.h" || target == "config/Locations.h"
      if (!(to[1] in rank) || rank[to[1]] >= rank[from[1]]) next
      if (shared && rank[from[1]] < rank["log"]) next
      print at[1] ":" at[2] ": " target; bad++
    }
    END { if (bad) { print bad " include(s) reach up the layers"; exit 1 } }'
