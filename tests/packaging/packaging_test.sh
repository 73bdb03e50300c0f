#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR, as a distribution package would, checks what
# the desktop, man, AppStream and udev get from it, then builds the Debian package and
# checks that it carries the same files and that lintian finds nothing to warn of.
# Usage: packaging_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build="$1" source="$2" work="$(mktemp -d)" failures=0
trap 'rm -rf "$work"' EXIT
root="$work/root"
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what="$1"; shift; "$@" || fail "$what"; }  # check WHAT COMMAND...
sorted() { LC_ALL=C sort -u; }

expected_files="usr/bin/qk750setup
usr/lib/udev/rules.d/70-qk750.rules
usr/share/applications/qk750setup.desktop
usr/share/doc/qk750setup/changelog.gz
usr/share/doc/qk750setup/copyright
usr/share/icons/hicolor/128x128/apps/qk750setup.png
usr/share/icons/hicolor/48x48/apps/qk750setup.png
usr/share/icons/hicolor/scalable/apps/qk750setup.svg
usr/share/man/man1/qk750setup.1.gz
usr/share/metainfo/org.example.qk750setup.metainfo.xml"

DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; echo "FAIL: cmake --install" >&2; exit 1; }
installed="$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | sorted)"
check "installed files differ: $installed" test "$installed" = "$(sorted <<<"$expected_files")"
exe="$root/usr/bin/qk750setup"
version="$("$exe" --version | sed 's/^qk750setup //')"
help_text="$("$exe" --help)"

# Desktop entry: valid, starting the installed program with a file, its icon there.
desktop="$root/usr/share/applications/qk750setup.desktop"
validation="$(desktop-file-validate "$desktop" 2>&1)"
check "desktop-file-validate: $validation" test -z "$(grep -E ': (error|warning):' <<<"$validation")"
value() { sed -n "s/^$1=//p" "$desktop"; }
check "Exec=$(value Exec)" test "$(value Exec)" = "qk750setup %f"
for size in 128x128/apps/"$(value Icon)".png 48x48/apps/"$(value Icon)".png scalable/apps/"$(value Icon)".svg; do
    check "no icon $size" test -s "$root/usr/share/icons/hicolor/$size"
done

# Man page: no groff warnings, this version, every --help option and no other, and the
# outcome codes of the program, the README and the page are one set.
man_page="$work/qk750setup.1"
zcat "$root/usr/share/man/man1/qk750setup.1.gz" >"$man_page"
warnings="$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$man_page" 2>&1)"
check "groff: $warnings" test -z "$warnings"
check "the man page names another version than $version" \
    grep -q "^\.TH QK750SETUP 1 .*\"qk750setup $version\"" "$man_page"
rendered="$(LC_ALL=C groff -man -Tascii -P-cbou -rLL=2000n "$man_page" 2>/dev/null)"
help_options="$(grep -oE '^  +(--[a-z-]+(\[?=[A-Z_]+\]?)?|/[A-Z](=[A-Z_]+)?)' <<<"$help_text" |
    sed 's/^ *//')"
check "too few options in --help" test "$(wc -l <<<"$help_options")" -ge 8
while read -r option; do
    check "$option is not in the man page" grep -qF -- "$option" <<<"$rendered"
done <<<"$help_options"
tagged() {  # the lines after .TP in section $1
    awk -v s="$1" '$0 == ".SH " s { on = 1; next } /^\.SH / { on = 0 }
        on && tag { print } { tag = on && /^\.TP/ }' "$man_page"
}
help_long="$(grep -oE -- '--[a-z-]+' <<<"$help_options" | sorted)"
man_long="$(tagged OPTIONS | grep -oE '\\-\\-[a-z\\-]+' | sed 's/\\//g' | sorted)"
check "man page options [$man_long] differ from --help [$help_long]" \
    test "$help_long" = "$man_long"
codes_program="$({ echo OK; grep -rohE '"ERR_[A-Z_]+"' "$source/src" | tr -d '"'; } | sorted)"
codes_readme="$(grep -oE '^\| `(OK|ERR_[A-Z_]+)`' "$source/README.md" | tr -d '|` ' | sorted)"
codes_man="$(tagged '"BATCH MODE"' | sed -n 's/^\.B \(OK\|ERR_[A-Z_]*\)$/\1/p' | sorted)"
check "outcome codes differ: program [$codes_program] README [$codes_readme] man [$codes_man]" \
    test "$codes_program" = "$codes_man" -a "$codes_readme" = "$codes_man"

appstream="$(appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml 2>&1)" ||
    fail "appstreamcli validate: $appstream"

# udev rule: only the QK750's hidraw node, opened to the seat's user, never to everyone.
rules="$root/usr/lib/udev/rules.d/70-qk750.rules"
while IFS= read -r line; do
    [[ "$line" == 'SUBSYSTEM=="hidraw", ATTRS{product}=="*QK750*", '*'TAG+="uaccess"'* &&
        ! "$line" =~ MODE|\\$ ]] || fail "udev rule: $line"
done < <(grep -vE '^[[:space:]]*(#|$)' "$rules")
check "no udev rule" grep -qE '^SUBSYSTEM' "$rules"

# Debian package: the installed files, its name, version and libraries.
cpack --config "$build/CPackConfig.cmake" -B "$work/deb" -G DEB >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
deb="$(ls "$work"/deb/qk750setup_*.deb)"
deb_files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sorted)"
check "the .deb holds $deb_files" test "$deb_files" = "$(sorted <<<"$expected_files")"
check "Package/Version" test "$(dpkg-deb -f "$deb" Package Version | tr '\n' ' ')" = \
    "Package: qk750setup Version: $version "
lint="$(lintian --fail-on error,warning "$deb" 2>&1)" || fail "lintian: $lint"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libc6 libqt6core6 libudev1; do
    check "Depends lacks $lib: $depends" grep -q "$lib" <<<"$depends"
done
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
