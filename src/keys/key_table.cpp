#include "keys/key_table.h"

#include <iterator>

namespace qk750 {

namespace {

using Table = std::array<KeyRec, kKeyTableRows + 1>;

// Rows 1-87, one by one. The duplicates (Esc, Back, Tab, Ins ... Right, Pgup/PgUp) are
// deliberate: the name search returns the first, and both carry the same code.
constexpr KeyRec kNamedRows[] = {
    {"Shift", 0xE1, 0},       {"Ctrl", 0xE0, 0},
    {"Alt", 0xE2, 0},         {"delay", 0x66, 0},
    {"Back", 0x2A, 0},        {"Tab", 0x2B, 0},
    {"Esc", 0x29, 0},         {"Ins", 0x49, 0},
    {"Home", 0x4A, 0},        {"Pgup", 0x4B, 0},
    {"Del", 0x4C, 0},         {"End", 0x4D, 0},
    {"PgDn", 0x4E, 0},        {"Up", 0x52, 0},
    {"Left", 0x50, 0},        {"Down", 0x51, 0},
    {"Right", 0x4F, 0},       {"Enter", 0x28, 0},
    {"Esc", 0x29, 0},         {"Back", 0x2A, 0},
    {"Tab", 0x2B, 0},         {"Space", 0x2C, 0},
    {"-", 0x2D, 0},           {"=", 0x2E, 0},
    {"[", 0x2F, 0},           {"]", 0x30, 0},
    {"\\", 0x31, 0},          {";", 0x33, 0},
    {"'", 0x34, 0},           {"`", 0x35, 0},
    {",", 0x36, 0},           {".", 0x37, 0},
    {"/", 0x38, 0},           {"Caps", 0x39, 0},
    {"_", 0x2D, 1},           {"+", 0x2E, 1},
    {"{", 0x2F, 1},           {"}", 0x30, 1},
    {"|", 0x31, 1},           {":", 0x33, 1},
    {"\"", 0x34, 1},          {"~", 0x35, 1},
    {"<", 0x36, 1},           {">", 0x37, 1},
    {"?", 0x38, 1},           {"F1", 0x3A, 0},
    {"F2", 0x3B, 0},          {"F3", 0x3C, 0},
    {"F4", 0x3D, 0},          {"F5", 0x3E, 0},
    {"F6", 0x3F, 0},          {"F7", 0x40, 0},
    {"F8", 0x41, 0},          {"F9", 0x42, 0},
    {"F10", 0x43, 0},         {"F11", 0x44, 0},
    {"F12", 0x45, 0},         {"PrtScr", 0x46, 0},
    {"ScrLock", 0x47, 0},     {"Pause", 0x48, 0},
    {"Ins", 0x49, 0},         {"Home", 0x4A, 0},
    {"PgUp", 0x4B, 0},        {"Del", 0x4C, 0},
    {"End", 0x4D, 0},         {"PgDn", 0x4E, 0},
    {"Right", 0x4F, 0},       {"Left", 0x50, 0},
    {"Down", 0x51, 0},        {"Up", 0x52, 0},
    {"NumLock", 0x53, 0},     {"Pad /", 0x54, 0},
    {"Pad *", 0x55, 0},       {"Pad -", 0x56, 0},
    {"Pad +", 0x57, 0},       {"Pad Enter", 0x58, 0},
    {"LCtrl", 0xE0, 0},       {"LShift", 0xE1, 0},
    {"LAlt", 0xE2, 0},        {"WINKey", 0xE3, 0},
    {"RCtrl", 0xE4, 0},       {"RShift", 0xE5, 0},
    {"RAlt", 0xE6, 0},        {"HEB", 0x68, 0},
    {"ENG", 0x69, 0},         {"FUNC2_TOGGLE", 0x6A, 0},
    {"FUNC2_SHIFT", 0x6B, 0},
};

// The single-character rows come from these runs; each character's row name points
// into the run itself.
constexpr std::string_view kLowerLetters = "abcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kUpperLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view kDigits = "1234567890";
constexpr std::string_view kShiftedDigits = "!@#$%^&*()";

constexpr int appendRun(Table& table, int row, std::string_view chars, std::uint8_t firstCode,
                        std::uint8_t shifted) {
    for (std::size_t i = 0; i < chars.size(); ++i) {
        table[row++] = {chars.substr(i, 1), static_cast<std::uint8_t>(firstCode + i), shifted};
    }
    return row;
}

constexpr Table makeTable() {
    Table table{};
    int row = 1;
    for (const KeyRec& rec : kNamedRows) {
        table[row++] = rec;
    }
    row = appendRun(table, row, kLowerLetters, 0x04, 0);
    row = appendRun(table, row, kUpperLetters, 0x04, 1);
    row = appendRun(table, row, kDigits, 0x1E, 0);
    row = appendRun(table, row, kShiftedDigits, 0x1E, 1);
    table[row] = {std::string_view(), 0x00, 0};
    return table;
}

constexpr Table kTable = makeTable();

// A wrong count of rows above would silently shift the terminator.
static_assert(std::size(kNamedRows) == 87);
static_assert(kTable[kKeyTableRows].Code == 0 && kTable[kKeyTableRows - 1].Name == ")");

}  // namespace

const std::array<KeyRec, kKeyTableRows + 1> KeyTable = kTable;

int FindKeyByName(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    // The search ends after the first row whose code is 0, which is the terminator.
    for (int row = 1; row <= kKeyTableRows; ++row) {
        const KeyRec& rec = KeyTable[row];
        if (rec.Name == text) {
            return row;
        }
        if (rec.Code == 0) {
            break;
        }
    }
    return 0;
}

int FindModifierPrefix(std::string_view text) {
    for (int row = 1; row <= 3; ++row) {
        if (text.starts_with(KeyTable[row].Name)) {
            return row;
        }
    }
    return 0;
}

}  // namespace qk750
