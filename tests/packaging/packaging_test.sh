#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR, as a distribution package would, and checks
# what the desktop, man and udev get from it; then builds the Debian package and checks
# that it carries the same files.
#
# Usage: packaging_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build="$1"
source="$2"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/root"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}
have() {
    command -v "$1" >/dev/null 2>&1
}
one_line() {
    tr '\n' ' ' <<<"$1"
}

expected_files="usr/bin/qk750setup
usr/lib/udev/rules.d/70-qk750.rules
usr/share/applications/qk750setup.desktop
usr/share/icons/hicolor/128x128/apps/qk750setup.png
usr/share/icons/hicolor/48x48/apps/qk750setup.png
usr/share/icons/hicolor/scalable/apps/qk750setup.svg
usr/share/man/man1/qk750setup.1"

# --- Installation --------------------------------------------------------------------
if ! DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    fail "cmake --install failed"
    exit 1
fi

installed="$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)"
if [ "$installed" = "$(LC_ALL=C sort <<<"$expected_files")" ]; then
    pass "installed tree holds exactly the expected files"
else
    fail "installed tree differs from the expected files (< expected, > installed):"
    diff <(LC_ALL=C sort <<<"$expected_files") <(echo "$installed") >&2
fi

exe="$root/usr/bin/qk750setup"
if [ ! -x "$exe" ]; then
    fail "usr/bin/qk750setup is not executable"
    exit 1
fi
version_line="$("$exe" --version)"
version="${version_line#qk750setup }"
help_text="$("$exe" --help)"
if [ -z "$help_text" ] || [ "$version" = "$version_line" ]; then
    fail "the installed program does not answer --help and --version: '$version_line'"
fi

# --- Desktop entry -------------------------------------------------------------------
desktop="$root/usr/share/applications/qk750setup.desktop"
if have desktop-file-validate; then
    # Hints are advice; errors and warnings make menus misbehave.
    validation="$(desktop-file-validate "$desktop" 2>&1)"
    status=$?
    if [ "$status" -ne 0 ] || grep -qE ': (error|warning):' <<<"$validation"; then
        fail "desktop-file-validate: $validation"
    else
        pass "desktop-file-validate accepts the desktop entry"
    fi
else
    fail "desktop-file-validate not found (scripts/setup-deps installs desktop-file-utils)"
fi

desktop_value() {
    sed -n "s/^$1=//p" "$desktop"
}
exec_line="$(desktop_value Exec)"
exec_program="${exec_line%% *}"
if [ "$exec_program" = "qk750setup" ] && [ -x "$root/usr/bin/$exec_program" ] &&
    [[ "$exec_line" == *" %f" ]]; then
    pass "the desktop entry starts the installed program with a file"
else
    fail "Exec= '$exec_line' does not start usr/bin/qk750setup with %f"
fi
icon="$(desktop_value Icon)"
for dir in 128x128 48x48; do
    if [ ! -f "$root/usr/share/icons/hicolor/$dir/apps/$icon.png" ]; then
        fail "Icon=$icon has no $dir PNG"
    fi
done
if [ ! -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ]; then
    fail "Icon=$icon has no scalable SVG"
fi
categories="$(desktop_value Categories)"
if [[ ";$categories" != *";HardwareSettings;"* ]]; then
    fail "Categories=$categories lacks HardwareSettings"
fi

# --- Icons ---------------------------------------------------------------------------
# A PNG starts with its 8-byte signature and the IHDR chunk; width and height are the
# big-endian words at offsets 16 and 20.
png_size() {
    local signature
    signature="$(od -An -tx1 -N8 "$1" | tr -d ' \n')"
    if [ "$signature" != "89504e470d0a1a0a" ]; then
        echo "not-a-png"
        return
    fi
    local width height
    width=$((16#$(od -An -tx1 -j16 -N4 "$1" | tr -d ' \n')))
    height=$((16#$(od -An -tx1 -j20 -N4 "$1" | tr -d ' \n')))
    echo "${width}x${height}"
}
icons_ok=1
for size in 128 48; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/qk750setup.png"
    actual="$(png_size "$png")"
    if [ "$actual" != "${size}x${size}" ]; then
        fail "$png is $actual, not ${size}x${size}"
        icons_ok=0
    fi
done
svg="$root/usr/share/icons/hicolor/scalable/apps/qk750setup.svg"
if have xmllint; then
    if ! xmllint --noout "$svg" 2>"$work/xmllint.log"; then
        fail "the SVG icon is not well-formed XML: $(cat "$work/xmllint.log")"
        icons_ok=0
    fi
fi
if ! grep -q '<svg[^>]*viewBox="0 0 128 128"' "$svg"; then
    fail "the SVG icon has no square 128 x 128 view box"
    icons_ok=0
fi
[ "$icons_ok" -eq 1 ] && pass "icons have their sizes"

# --- Man page ------------------------------------------------------------------------
man_page="$root/usr/share/man/man1/qk750setup.1"
man_ok=1
th="$(grep -m1 '^\.TH ' "$man_page")"
if [[ "$th" != '.TH QK750SETUP 1 '* ]]; then
    fail "the man page does not begin with .TH QK750SETUP 1: '$th'"
    man_ok=0
fi
if [[ "$th" != *"\"qk750setup $version\""* ]]; then
    fail "the man page's header names another version than $version: '$th'"
    man_ok=0
fi
for section in NAME SYNOPSIS DESCRIPTION OPTIONS '"BATCH MODE"' '"EXIT STATUS"' ENVIRONMENT FILES; do
    if ! grep -qx "\.SH $section" "$man_page"; then
        fail "the man page has no section $section"
        man_ok=0
    fi
done
if ! grep -qx 'qk750setup \\- .*' "$man_page"; then
    fail "the NAME section is not 'qk750setup \\- description' (whatis and apropos read it)"
    man_ok=0
fi

# The page as a reader sees it: plain ASCII, lines long enough that nothing is hyphenated.
if have groff; then
    if ! LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$man_page" 2>"$work/groff.log" ||
        [ -s "$work/groff.log" ]; then
        fail "groff warns about the man page: $(cat "$work/groff.log")"
        man_ok=0
    fi
    rendered="$(LC_ALL=C groff -man -Tascii -P-cbou -rLL=2000n "$man_page" 2>/dev/null)"
else
    echo "note: groff not found; the man page is checked in its source form only"
    rendered="$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' "$man_page")"
fi
[ "$man_ok" -eq 1 ] && pass "the man page is well formed"

# Every option --help prints is documented, with its argument when groff shows the page
# as the reader sees it; and the page documents no option that --help does not know.
help_options="$(grep -oE '^  +(--[a-z-]+(\[?=[A-Z_]+\]?)?|/[A-Z](=[A-Z_]+)?)' <<<"$help_text" |
    sed 's/^ *//')"
if [ "$(wc -l <<<"$help_options")" -lt 8 ]; then
    fail "too few options found in --help: $help_options"
fi
missing=""
while read -r option; do
    wanted="$option"
    have groff || wanted="${option%%[=[]*}"
    grep -qF -- "$wanted" <<<"$rendered" || missing="$missing $wanted"
done <<<"$help_options"
if [ -n "$missing" ]; then
    fail "options of --help missing from the man page:$missing"
else
    pass "every option of --help is in the man page"
fi
help_long="$(grep -oE -- '--[a-z-]+' <<<"$help_options" | LC_ALL=C sort -u)"
man_long="$(awk '/^\.SH OPTIONS/ { on = 1; next } /^\.SH / { on = 0 }
        on && tag { print } { tag = on && /^\.TP/ }' "$man_page" |
    grep -oE '\\-\\-[a-z\\-]+' | sed 's/\\//g' | LC_ALL=C sort -u)"
if [ "$help_long" != "$man_long" ]; then
    fail "the man page's options differ from --help (< --help, > man page):"
    diff <(echo "$help_long") <(echo "$man_long") >&2
fi

# The outcome codes: those the program writes, those the README lists and those the man
# page lists are one set.
codes_program="$({ echo OK; grep -rohE '"ERR_[A-Z_]+"' "$source/src" | tr -d '"'; } |
    LC_ALL=C sort -u)"
# shellcheck disable=SC2016 # the backticks are the README's code marks, not a command
codes_readme="$(grep -oE '^\| `(OK|ERR_[A-Z_]+)`' "$source/README.md" | tr -d '|` ' |
    LC_ALL=C sort -u)"
codes_man="$(awk '/^\.SH "BATCH MODE"/ { on = 1; next } /^\.SH / { on = 0 }
        on && tag { print } { tag = on && /^\.TP/ }' "$man_page" |
    sed -n 's/^\.B \(OK\|ERR_[A-Z_]*\)$/\1/p' | LC_ALL=C sort -u)"
if [ "$codes_program" = "$codes_man" ] && [ "$codes_readme" = "$codes_man" ]; then
    pass "the man page lists the $(wc -l <<<"$codes_man") outcome codes of the program and the README"
else
    fail "outcome codes differ: program [$(one_line "$codes_program")]" \
        "README [$(one_line "$codes_readme")] man page [$(one_line "$codes_man")]"
fi

# --- udev rule -----------------------------------------------------------------------
rules="$root/usr/lib/udev/rules.d/70-qk750.rules"
rules_ok=1
active="$(grep -vE '^[[:space:]]*(#|$)' "$rules")"
if [ -z "$active" ]; then
    fail "the udev rule file holds no rule"
    rules_ok=0
fi
world_access='MODE:?="0?[0-7]{2}[1-7]"'
while IFS= read -r line; do
    [ -z "$line" ] && continue
    # Every rule names the hidraw subsystem and the keyboard's product string, so no
    # other HID device is opened up; and access goes through the seat, never to everyone.
    if [[ "$line" != *'SUBSYSTEM=="hidraw"'* ]] || [[ "$line" != *'ATTRS{product}=="*QK750*"'* ]]; then
        fail "a udev rule does not match only the QK750's hidraw node: $line"
        rules_ok=0
    fi
    if [[ "$line" != *'TAG+="uaccess"'* ]]; then
        fail "a udev rule does not grant access through uaccess: $line"
        rules_ok=0
    fi
    if [[ "$line" =~ $world_access ]] || [[ "$line" == *\\ ]]; then
        fail "a udev rule opens the node to every user or continues on the next line: $line"
        rules_ok=0
    fi
done <<<"$active"
if ! grep -qE '^#[[:space:]]*SUBSYSTEM=="hidraw", ATTRS\{product\}=="\*QK750\*", GROUP="[a-z0-9_-]+", MODE="0660"' "$rules"; then
    fail "the udev rule file lacks the commented GROUP= example for sessions without a seat"
    rules_ok=0
fi
[ "$rules_ok" -eq 1 ] && pass "the udev rule opens the QK750's hidraw node to the seat's user only"
if have udevadm && udevadm verify --help >/dev/null 2>&1; then
    if udevadm verify --resolve-names=never "$rules" >"$work/verify.log" 2>&1; then
        pass "udevadm verify accepts the rule"
    else
        fail "udevadm verify: $(cat "$work/verify.log")"
    fi
else
    echo "note: no udevadm verify on this system; the rule's syntax is checked by pattern only"
fi

# --- Debian package ------------------------------------------------------------------
if have cpack && have dpkg-deb && have dpkg-shlibdeps; then
    if cpack --config "$build/CPackConfig.cmake" -B "$work/deb" -G DEB >"$work/cpack.log" 2>&1; then
        deb="$(find "$work/deb" -maxdepth 1 -name 'qk750setup_*.deb' | head -n1)"
        if [ -z "$deb" ]; then
            fail "cpack made no qk750setup_*.deb: $(ls "$work/deb")"
        else
            deb_files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' |
                LC_ALL=C sort)"
            if [ "$deb_files" = "$(LC_ALL=C sort <<<"$expected_files")" ]; then
                pass "the .deb holds exactly the installed files"
            else
                fail "the .deb's files differ from the expected (< expected, > .deb):"
                diff <(LC_ALL=C sort <<<"$expected_files") <(echo "$deb_files") >&2
            fi
            field() {
                dpkg-deb -f "$deb" "$1"
            }
            [ "$(field Package)" = "qk750setup" ] || fail "Package: $(field Package)"
            [ "$(field Version)" = "$version" ] || fail "Version: $(field Version), program $version"
            [ "$(field Section)" = "utils" ] || fail "Section: $(field Section)"
            [ "$(field Maintainer)" = "QK750 Setup developers" ] ||
                fail "Maintainer: $(field Maintainer)"
            depends="$(field Depends)"
            if [[ "$depends" != *libc6* ]] || [[ "$depends" != *libqt6core6* ]] ||
                [[ "$depends" != *libudev1* ]]; then
                fail "Depends lacks the C library, Qt or libudev: $depends"
            else
                pass "the .deb's control fields and dependencies"
            fi
        fi
    else
        cat "$work/cpack.log" >&2
        fail "cpack -G DEB failed"
    fi
else
    echo "note: cpack, dpkg-deb or dpkg-shlibdeps missing; the .deb is not built"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
