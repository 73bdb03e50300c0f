#!/usr/bin/env bash
# Writes the two legacy sample files beside this script:
#   legacy.KBD  the fixed-size binary setup file (100 records of 213 bytes)
#   legacy.DAT  the ASCII key list ("row,column,layer,key text" per line)
# Strings in the KBD file are in token form: every token is preceded by the byte 0xF9.
set -euo pipefail
export LC_ALL=C
here="$(cd "$(dirname "$0")" && pwd)"

F9=$'\xf9'

# Token form of the given tokens: F9 tok F9 tok ... F9
tokens() {
    local out="$F9" t
    for t in "$@"; do
        out+="$t$F9"
    done
    printf '%s' "$out"
}

# Token form of a word, one token per character.
chars() {
    local word="$1" out="" i
    for ((i = 0; i < ${#word}; i++)); do
        out+="$F9${word:i:1}"
    done
    printf '%s' "$out"
}

zeros() { head -c "$1" /dev/zero; }

lengthByte() { printf "\\$(printf '%03o' "$1")"; }

# One 213-byte record: 10 unused bytes, the first string's length and its 60-byte field,
# the second string's length and the rest of the record.
record() {
    local first="$1" second="$2"
    zeros 10
    lengthByte "${#first}"
    printf '%s' "$first"
    zeros $((60 - ${#first}))
    lengthByte "${#second}"
    printf '%s' "$second"
    zeros $((213 - 72 - ${#second}))
}

declare -a first second
for ((n = 1; n <= 100; n++)); do
    first[n]=""
    second[n]=""
done

# Row 1: function keys, a print key on the Func2 layer of F1.
for ((n = 1; n <= 10; n++)); do
    first[n]="$(tokens "F$n")"
done
second[1]="$(tokens "^P")"
first[11]="$(tokens Esc)"
first[12]="$(tokens BkSp)"
# Row 2: drinks, with a large size on the Func2 layer.
first[13]="$(chars Coffee)$(tokens Enter)"
second[13]="$(chars Large)$(tokens Spc)$(chars Coffee)$(tokens Enter)"
first[14]="$(chars Tea)$(tokens Enter)"
second[14]="$(chars Green)$(tokens Spc)$(chars Tea)$(tokens Enter)"
first[15]="$(chars Latte)$(tokens Enter)"
# Row 4: till functions in the old notation.
first[37]="$(tokens "^P")"
first[38]="$(tokens ShTab)"
first[39]="$(tokens $'\x18')"
first[40]="$(tokens $'\x19')"
first[41]="$(tokens $'\x11\xc4')"
first[42]="$(tokens $'\xc4\x10')"
first[43]="$(tokens $'\x11\xc4\xd9')"
# Keypad.
first[57]="$(tokens "Pad 7")"
first[58]="$(tokens "Pad 8")"
first[59]="$(tokens "Pad 9")"
first[60]="$(tokens "Pad -")"
first[80]="$(tokens "Pad Enter")"
# The Func2 toggle, stored as the bare name.
first[84]="Func1Tgl"
# Card reader: preamble and postamble.
first[90]="$(tokens F8)"
first[91]="$(tokens Enter)"

{
    for ((n = 1; n <= 100; n++)); do
        record "${first[n]}" "${second[n]}"
    done
} >"$here/legacy.KBD"

{
    printf '1,1,1,[F1]\r\n'
    printf '1,1,2,[^P]\r\n'
    printf '2,1,1,Coffee[Enter]\r\n'
    printf '2,1,2,Large[Spc]Coffee[Enter]\r\n'
    printf '2,2,1,Tea[Enter]\r\n'
    printf '2,3,1,Latte[Enter]\r\n'
    printf '4,1,1,[^P]\r\n'
    printf '4,2,1,[ShTab]\r\n'
    printf '4,9,1,\030\r\n'
    printf '5,9,1,[Pad 7]\r\n'
    printf '5,12,1,[Pad -]\r\n'
    printf '\r\n'
    printf '7,8,1,[Pad Enter]\r\n'
    printf '7,12,1,[Func1Tgl]\r\n'
} >"$here/legacy.DAT"

echo "wrote $here/legacy.KBD ($(wc -c <"$here/legacy.KBD") bytes) and $here/legacy.DAT"
