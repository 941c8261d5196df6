# Sourced by other scripts. Decides which Wine runs the Windows builds.
#
#   ql_pick_wine I686_EXE
#
# runs I686_EXE (any 32-bit console program, without arguments, bounded by
# 60 s) under `wine` and exports
#   QL_WINE32_OK  1 when 32-bit programs run, else 0
#   QL_WINE       the loader to use: `wine` when 32-bit works, else the
#                 64-bit loader (/usr/lib/wine/wine64, or wine64 on PATH)
#   QL_WINE_BUILD i686 or x86_64: which build of the sources to run with it
# Uses $WINEPREFIX when set, else a throw-away prefix removed afterwards.

ql_pick_wine() {
    local exe="$1" out rc prefix own_prefix=0
    QL_WINE32_OK=0
    if [ -n "${WINEPREFIX:-}" ]; then
        prefix="$WINEPREFIX"
    else
        prefix="$(mktemp -d /tmp/ql-wine32-XXXXXX)"
        own_prefix=1
    fi
    if [ -f "$exe" ] && command -v wine >/dev/null 2>&1; then
        out="$(WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
            timeout 60 wine "$exe" </dev/null 2>&1)" && rc=0 || rc=$?
        # Whatever the program itself answers counts; a loader that cannot
        # run it ends with 126 ("Exec format error") or names the failure.
        if [ "$rc" -lt 124 ] || [ "$rc" -gt 127 ]; then
            if ! printf '%s' "$out" | grep -qiE 'exec format error|bad exe format|could not load'; then
                QL_WINE32_OK=1
            fi
        fi
    fi
    if [ "$own_prefix" -eq 1 ]; then
        WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1 || true
        rm -rf "$prefix"
    fi
    if [ "$QL_WINE32_OK" -eq 1 ]; then
        QL_WINE=wine
        QL_WINE_BUILD=i686
    else
        if [ -x /usr/lib/wine/wine64 ]; then
            QL_WINE=/usr/lib/wine/wine64
        elif command -v wine64 >/dev/null 2>&1; then
            QL_WINE=wine64
        else
            QL_WINE=wine
        fi
        QL_WINE_BUILD=x86_64
    fi
    export QL_WINE32_OK QL_WINE QL_WINE_BUILD
}
