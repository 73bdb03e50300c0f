# Setups the programming benchmarks share (sourced).

# Writes empty.ini (every key empty, no card-reader strings) and full.ini (35 keys of 47
# letters, 48 bytes each, and one of 13 letters: 1694 bytes, filling the string area) into
# the given folder.
write_bench_setups() {
    printf '[Mcr]\r\nMcrSetupMode=0\r\n' >"$1/empty.ini"
    {
        printf '[Keys]\r\n'
        local letters=abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstu k
        for k in $(seq 1 35); do printf 'Key%d=%s\r\n' "$k" "$letters"; done
        printf 'Key36=%s\r\n' "abcdefghijklm"
        printf '[Mcr]\r\nMcrSetupMode=0\r\n'
    } >"$1/full.ini"
}

# The requests of a run for a SetupSize: the pairs up to the transfer extent and the
# closing request.
bench_requests() {
    local extent=$(($1 + 358))
    if ((extent > 2047)); then extent=2046; fi
    echo $((extent / 2 + 1 + 1))
}
