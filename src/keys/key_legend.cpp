#include "keys/key_legend.h"

#include <vector>

#include "keys/device_image.h"
#include "keys/key_string.h"
#include "keys/key_table.h"

namespace qk750 {

namespace {

char toLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
char toUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// A key's name on a keycap: the device's own commands spelt out, the rest as named.
std::string readableName(std::string_view name) {
    static constexpr std::pair<std::string_view, std::string_view> kCommands[] = {
        {"delay", "Delay"},
        {"HEB", "Hebrew"},
        {"ENG", "English"},
        {"FUNC2_TOGGLE", "Func2 Toggle"},
        {"FUNC2_SHIFT", "Func2 Shift"},
    };
    for (const auto& [command, readable] : kCommands) {
        if (name == command) {
            return std::string(readable);
        }
    }
    return std::string(name);
}

// A tag's inner text as a keycap shows it, read as the compiler reads it: "ShiftF5" gives
// "Shift F5", "Ctrlx" "Ctrl X". Empty when the tag names no key.
std::string tagLegend(std::string_view inner) {
    const int modifier = FindModifierPrefix(inner);
    if (modifier == 0) {
        return FindKeyByName(inner) != 0 ? readableName(inner) : std::string();
    }
    const std::string_view prefix = KeyTable[modifier].Name;
    std::string rest(inner.substr(prefix.size()));
    if (rest.empty()) {
        return std::string(prefix);
    }
    // A capital after a modifier stands for its letter's key; caps show letters in capitals.
    const bool letter = rest.size() == 1 && toLower(rest[0]) >= 'a' && toLower(rest[0]) <= 'z';
    if (FindKeyByName(letter ? std::string(1, toLower(rest[0])) : rest) == 0) {
        return std::string();
    }
    if (letter) {
        rest[0] = toUpper(rest[0]);
    }
    return std::string(prefix) + " " + readableName(rest);
}

// Runs of blanks become one blank; none at either end.
std::string collapseBlanks(std::string_view text) {
    std::string result;
    bool blank = false;
    for (const char c : text) {
        if (isBlank(c)) {
            blank = !result.empty();
            continue;
        }
        if (blank) {
            result += ' ';
            blank = false;
        }
        result += c;
    }
    return result;
}

}  // namespace

std::string DeriveLegend(std::string_view keyString) {
    std::string source(keyString);
    std::string text;
    std::vector<std::string> names;
    for (std::string token = NextToken(source); !token.empty(); token = NextToken(source)) {
        if (token.size() < 2 || token[0] != '<') {
            text += token;
            continue;
        }
        const std::string_view inner = std::string_view(token).substr(1, token.size() - 2);
        // A tag between two words keeps them apart, as <Space> and <Tab> do on the screen.
        text += ' ';
        if (std::string name = tagLegend(inner); !name.empty()) {
            names.push_back(std::move(name));
        }
    }
    std::string legend = collapseBlanks(text);
    if (!legend.empty()) {
        return legend;
    }
    for (const std::string& name : names) {
        legend += (legend.empty() ? "" : " ") + name;
    }
    return legend;
}

std::array<InsertLegends, kKeyCount + 1> InsertLegendsOf(const SetupRecord& setup) {
    SetupRecord programmed = setup;
    NormalizeFunc2Keys(programmed);
    std::array<InsertLegends, kKeyCount + 1> inserts;
    const auto fill = [](InsertLegend& insert, std::string derived, const std::string& own) {
        insert.derived = std::move(derived);
        insert.own = !collapseBlanks(own).empty();
        insert.text = insert.own ? collapseBlanks(own) : insert.derived;
    };
    for (int key = 1; key <= kKeyCount; ++key) {
        const std::string derived = DeriveLegend(programmed.KeyStrings[key]);
        std::string func2 = DeriveLegend(programmed.Func2Strings[key]);
        if (func2 == derived) {
            func2.clear();
        }
        fill(inserts[key].key, derived, setup.Legends.Key[key]);
        fill(inserts[key].func2, std::move(func2), setup.Legends.Func2[key]);
    }
    return inserts;
}

}  // namespace qk750
