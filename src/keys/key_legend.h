#pragma once

#include <array>
#include <string>
#include <string_view>

#include "setup/setup_record.h"

namespace qk750 {

// The legend a key string gives its keycap insert: the plain text without its tags
// ("Hot<Tab>Tea<Enter>" gives "Hot Tea"); for a key of tags only, their names without
// brackets, joined by blanks ("<ShiftF5>" gives "Shift F5"), the device's own commands by a
// readable name ("<FUNC2_TOGGLE>" gives "Func2 Toggle"). Tags that name no key type nothing
// and show nothing. Empty for an empty key.
std::string DeriveLegend(std::string_view keyString);

// What one layer of an insert shows: a person's own legend when there is one, else the
// derived one.
struct InsertLegend {
    std::string text;
    std::string derived;
    bool own = false;
};

struct InsertLegends {
    InsertLegend key;
    InsertLegend func2;  // printed small in the upper right corner
};

// Every key's insert, 1-84 (element 0 unused). The legends come from the key strings as
// the keyboard will have them (a Func2 key is that key alone, in both layers); a Func2
// legend that repeats the key's own legend is left out, since the key does the same in
// both layers.
std::array<InsertLegends, kKeyCount + 1> InsertLegendsOf(const SetupRecord& setup);

}  // namespace qk750
