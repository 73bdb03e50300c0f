// The key set of the on-screen keyboard: a US layout with a navigation block, the same in
// the main window and in the custom MCR dialog.

#include <QChar>

#include <array>
#include <iterator>
#include <string_view>

#include "ui/onscreen_keyboard.h"

namespace qk750 {

namespace {

// One key of the layout, in layout units. `name` is the caption of a character key or the
// key-table name of a named key.
struct Slot {
    std::string_view name;
    int x;
    int y;
    int w = 8;
    int h = 8;
};

constexpr Slot kLayout[] = {
    {"Esc", 3, 3},         {"F1", 14, 3},
    {"F2", 22, 3},         {"F3", 30, 3},
    {"F4", 38, 3},         {"F5", 51, 3},
    {"F6", 59, 3},         {"F7", 67, 3},
    {"F8", 75, 3},         {"F9", 87, 3},
    {"F10", 95, 3},        {"F11", 103, 3},
    {"F12", 111, 3},       {"Delay", 130, 3, 16},

    {"`", 3, 14},          {"1", 11, 14},
    {"2", 19, 14},         {"3", 27, 14},
    {"4", 35, 14},         {"5", 43, 14},
    {"6", 51, 14},         {"7", 59, 14},
    {"8", 67, 14},         {"9", 75, 14},
    {"0", 83, 14},         {"-", 91, 14},
    {"=", 99, 14},         {"Back", 107, 14, 12},

    {"Ins", 127, 20},      {"Home", 135, 20},
    {"PgUp", 143, 20},

    {"Tab", 3, 22, 12},    {"q", 15, 22},
    {"w", 23, 22},         {"e", 31, 22},
    {"r", 39, 22},         {"t", 47, 22},
    {"y", 55, 22},         {"u", 63, 22},
    {"i", 71, 22},         {"o", 79, 22},
    {"p", 87, 22},         {"[", 95, 22},
    {"]", 103, 22},        {"Enter", 111, 22, 8, 16},

    {"Del", 127, 28},      {"End", 135, 28},
    {"PgDn", 143, 28},

    {"Caps", 3, 30, 12},   {"a", 15, 30},
    {"s", 23, 30},         {"d", 31, 30},
    {"f", 39, 30},         {"g", 47, 30},
    {"h", 55, 30},         {"j", 63, 30},
    {"k", 71, 30},         {"l", 79, 30},
    {";", 87, 30},         {"'", 95, 30},
    {"\\", 103, 30},

    {"Shift", 3, 38, 16},  {"z", 19, 38},
    {"x", 27, 38},         {"c", 35, 38},
    {"v", 43, 38},         {"b", 51, 38},
    {"n", 59, 38},         {"m", 67, 38},
    {",", 75, 38},         {".", 83, 38},
    {"/", 91, 38},         {"Shift", 99, 38, 20},
    {"Up", 135, 38},

    {"Ctrl", 3, 46},       {"Alt", 11, 46, 12},
    {"Space", 23, 46, 76}, {"Alt", 99, 46, 12},
    {"Ctrl", 111, 46},     {"Left", 123, 46, 12},
    {"Down", 135, 46},     {"Right", 143, 46, 12},
};
static_assert(std::size(kLayout) == 82, "the on-screen keyboard has 82 keys");

// The US shifted character of each unshifted symbol; letters shift to their capitals.
constexpr std::string_view kUnshifted = "`1234567890-=[];'\\,./";
constexpr std::string_view kShifted = "~!@#$%^&*()_+{}:\"|<>?";
static_assert(kUnshifted.size() == kShifted.size());

char shiftedChar(char c) {
    if (c >= 'a' && c <= 'z') {
        return static_cast<char>(c - 'a' + 'A');
    }
    const auto pos = kUnshifted.find(c);
    return pos == std::string_view::npos ? c : kShifted[pos];
}

// In key-string text a lone "<" can open a tag that swallows whatever is appended after it,
// and two lone ">" read back as one; the doubled forms always stand for the character.
QString literal(char c) {
    if (c == '<' || c == '>') {
        return QString(2, QLatin1Char(c));
    }
    return QString(QLatin1Char(c));
}

QString fromView(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

struct LatchKind {
    std::string_view name;
    int kind;
};

// Keys that only latch or send a device command: a plain caption and output, nothing else.
constexpr LatchKind kLatchKinds[] = {
    {"Shift", KeyboardKey::Shift}, {"Ctrl", KeyboardKey::Ctrl},   {"Alt", KeyboardKey::Alt},
    {"Caps", KeyboardKey::Caps},   {"Delay", KeyboardKey::Delay},
};

KeyboardKey makeKey(const Slot& slot) {
    KeyboardKey key;
    key.left = slot.x;
    key.top = slot.y;
    key.width = slot.w;
    key.height = slot.h;

    for (const auto& latch : kLatchKinds) {
        if (slot.name == latch.name) {
            key.kind = latch.kind;
            key.captions[0] = fromView(slot.name);
            key.outputs[0] = QStringLiteral("<") + fromView(slot.name).toLower() + u'>';
            return key;
        }
    }

    if (slot.name.size() == 1) {
        const char c = slot.name.front();
        const char s = shiftedChar(c);
        const bool letter = c >= 'a' && c <= 'z';
        const QString upper = QString(QLatin1Char(letter ? s : c));
        key.kind = KeyboardKey::Ordinary;
        key.captions = {QString(QLatin1Char(c)), QString(QLatin1Char(s)), upper, upper};
        key.outputs = {literal(c), literal(s), QStringLiteral("<Ctrl") + upper + u'>',
                       QStringLiteral("<Alt") + upper + u'>'};
        return key;
    }

    // Every other key types a named key of the key table, with each modifier as a tag
    // prefix; they are drawn and handled as one group, the function keys.
    const QString name = fromView(slot.name);
    key.kind = KeyboardKey::Function;
    key.captions = {name, name, name, name};
    key.outputs = {u'<' + name + u'>', QStringLiteral("<Shift") + name + u'>',
                   QStringLiteral("<Ctrl") + name + u'>', QStringLiteral("<Alt") + name + u'>'};
    return key;
}

}  // namespace

const std::vector<KeyboardKey>& StandardKeyboardKeys() {
    static const std::vector<KeyboardKey> keys = [] {
        std::vector<KeyboardKey> all;
        all.reserve(std::size(kLayout));
        for (const auto& slot : kLayout) {
            all.push_back(makeKey(slot));
        }
        return all;
    }();
    return keys;
}

}  // namespace qk750
