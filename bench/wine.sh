# What the programming benchmarks run (sourced).

# program_under_test [--wine] WORK: sets `program`, the command that starts the program,
# and `wine_start_ms`, empty unless it runs under Wine. With --wine it is the Windows zip
# (dist/, made by scripts/build-windows when missing) unpacked into WORK, in the Wine
# prefix of scripts/test-windows ($QK750_WINEPREFIX gives one of its own), whose server
# stays up between the runs; wine_start_ms is then the best of three --version
# runs: the start of the program and its DLLs under Wine, which every run pays.
program_under_test() {
    program=("$exe") wine_start_ms=""
    [ "$1" = --wine ] || return 0
    local zip="$root/dist/qk750setup-windows-x64.zip" started ms
    [ -f "$zip" ] || "$root/scripts/build-windows"
    export WINEPREFIX="${QK750_WINEPREFIX:-${QK750_CACHE_DIR:-$HOME/.cache/qk750setup}/wine-prefix}"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unzip -q "$zip" -d "$2/app"
    program=(/usr/lib/wine/wine64 "$2/app/qk750setup/qk750setup.exe")
    /usr/lib/wine/wineserver -p10
    for _ in 1 2 3; do
        started=$(date +%s%N)
        "${program[@]}" --version >/dev/null 2>&1
        ms=$((($(date +%s%N) - started) / 1000000))
        if [ -z "$wine_start_ms" ] || ((ms < wine_start_ms)); then wine_start_ms=$ms; fi
    done
    echo "under Wine: the program's start (--version) takes $wine_start_ms ms (best of 3)"
}
