#include "keys/key_insight.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "keys/key_string.h"
#include "keys/key_table.h"

namespace qk750 {

namespace {

// ---- memory meter and key lengths ----

// String-area bytes of every entry the build stores, counted to the end even past a
// failure; the compiled strings are the build's own (CompileEntry).
int stringAreaDemand(const SetupRecord& normalised) {
    int total = 0;
    for (int layer = 1; layer <= 2; ++layer) {
        const int lastEntry = layer == 1 ? kEntriesPerLayer : kKeyCount;
        for (int entry = 1; entry <= lastEntry; ++entry) {
            total += StringAreaLength(CompileEntry(normalised, entry, layer));
        }
    }
    return total;
}

KeyLengths lengthsOf(const SetupRecord& normalised, int key) {
    return {key, static_cast<int>(CompileEntry(normalised, key, 1).size()),
            static_cast<int>(CompileEntry(normalised, key, 2).size())};
}

// ---- names ----

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// Lower case without blanks and underscores: "Pad Enter", "PadEnter" and "pad_enter" meet.
std::string normalised(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        if (c != ' ' && c != '_') {
            out += lower(c);
        }
    }
    return out;
}

// The names a hint may point to: every named row of two or more characters, each spelling
// once. Row 10's "Pgup" gives way to "PgUp", the spelling the on-screen keyboard writes.
const std::vector<std::string_view>& candidateNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> out;
        for (int row = 1; row < kKeyTableRows; ++row) {
            const std::string_view name = KeyTable[row].Name;
            if (name.size() >= 2 && name != "Pgup" &&
                std::find(out.begin(), out.end(), name) == out.end()) {
                out.push_back(name);
            }
        }
        return out;
    }();
    return names;
}

// Names from other keyboards and habits, by their normalised form.
struct Alias {
    std::string_view from;
    std::string_view to;
};
constexpr Alias kAliases[] = {
    {"return", "Enter"},
    {"ret", "Enter"},
    {"cr", "Enter"},
    {"escape", "Esc"},
    {"backspace", "Back"},
    {"bksp", "Back"},
    {"bs", "Back"},
    {"delete", "Del"},
    {"insert", "Ins"},
    {"pageup", "PgUp"},
    {"pgup", "PgUp"},
    {"pagedown", "PgDn"},
    {"pagedn", "PgDn"},
    {"pgdown", "PgDn"},
    {"capslock", "Caps"},
    {"capital", "Caps"},
    {"control", "Ctrl"},
    {"ctl", "Ctrl"},
    {"option", "Alt"},
    {"win", "WINKey"},
    {"windows", "WINKey"},
    {"winkey", "WINKey"},
    {"gui", "WINKey"},
    {"printscreen", "PrtScr"},
    {"prtsc", "PrtScr"},
    {"print", "PrtScr"},
    {"scrolllock", "ScrLock"},
    {"break", "Pause"},
    {"spacebar", "Space"},
    {"blank", "Space"},
    {"uparrow", "Up"},
    {"downarrow", "Down"},
    {"leftarrow", "Left"},
    {"rightarrow", "Right"},
    {"wait", "delay"},
    {"padenter", "Pad Enter"},
    {"keypadenter", "Pad Enter"},
    {"numenter", "Pad Enter"},
    {"hebrew", "HEB"},
    {"english", "ENG"},
};

// Optimal string alignment distance (adjacent transpositions count one), or a value above
// `limit` as soon as it cannot be reached.
int editDistance(std::string_view a, std::string_view b, int limit) {
    const int n = static_cast<int>(a.size());
    const int m = static_cast<int>(b.size());
    if (std::abs(n - m) > limit) {
        return limit + 1;
    }
    std::vector<int> prev2(m + 1), prev(m + 1), cur(m + 1);
    for (int j = 0; j <= m; ++j) {
        prev[j] = j;
    }
    for (int i = 1; i <= n; ++i) {
        cur[0] = i;
        int rowMin = cur[0];
        for (int j = 1; j <= m; ++j) {
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                cur[j] = std::min(cur[j], prev2[j - 2] + 1);
            }
            rowMin = std::min(rowMin, cur[j]);
        }
        if (rowMin > limit) {
            return limit + 1;
        }
        std::swap(prev2, prev);
        std::swap(prev, cur);
    }
    return prev[m];
}

struct NameMatch {
    std::string name;
    bool caseOnly = false;  // the same name in another letter case
};

// The same name in another letter case, or written with other blanks or underscores, or a
// common other name of the key.
std::optional<NameMatch> closeName(std::string_view text) {
    for (const std::string_view name : candidateNames()) {
        if (equalsIgnoringCase(text, name)) {
            return NameMatch{std::string(name), true};
        }
    }
    const std::string key = normalised(text);
    if (key.empty()) {
        return std::nullopt;
    }
    for (const std::string_view name : candidateNames()) {
        if (key == normalised(name)) {
            return NameMatch{std::string(name), false};
        }
    }
    for (const Alias& alias : kAliases) {
        if (key == alias.from) {
            return NameMatch{std::string(alias.to), false};
        }
    }
    return std::nullopt;
}

// A word of the text that is a name ("Caps Lock"), else the name fewest edits away.
std::optional<NameMatch> fuzzyName(std::string_view text) {
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find_first_of(" _", from);
        if (to == std::string_view::npos) {
            to = text.size();
        }
        const std::string_view word = text.substr(from, to - from);
        if (word.size() >= 2) {
            if (auto match = closeName(word)) {
                match->caseOnly = false;
                return match;
            }
        }
        from = to + 1;
    }
    const std::string key = normalised(text);
    // Long texts are prose, not names; short ones are too close to everything.
    if (key.size() < 2 || key.size() > 24) {
        return std::nullopt;
    }
    const int limit = key.size() <= 4 ? 1 : 2;
    int best = limit + 1;
    std::string_view bestName;
    for (const std::string_view name : candidateNames()) {
        const int d = editDistance(key, normalised(name), limit);
        if (d < best) {
            best = d;
            bestName = name;
        }
    }
    if (bestName.empty()) {
        return std::nullopt;
    }
    return NameMatch{std::string(bestName), false};
}

std::optional<NameMatch> nearestName(std::string_view text) {
    if (auto match = closeName(text)) {
        return match;
    }
    return fuzzyName(text);
}

constexpr std::string_view kModifierNames[] = {"Shift", "Ctrl", "Alt"};

std::string_view modifierPrefixIgnoringCase(std::string_view text) {
    for (const std::string_view modifier : kModifierNames) {
        if (startsWithIgnoringCase(text, modifier)) {
            return modifier;
        }
    }
    return {};
}

// After a modifier, a letter is written upper-case, as the on-screen keyboard does.
std::string keyAfterModifier(std::string_view rest) {
    std::string out(rest);
    if (out.size() == 1 && out[0] >= 'a' && out[0] <= 'z') {
        out[0] = static_cast<char>(out[0] - 'a' + 'A');
    }
    return out;
}

NameHint tagHint(const std::string& token) {
    NameHint hint;
    hint.token = token;
    const std::string_view inner = std::string_view(token).substr(1, token.size() - 2);
    const auto suggest = [&](std::string tag, bool caseOnly) {
        hint.suggestion = "<" + tag + ">";
        hint.kind = caseOnly ? NameHintKind::CaseMismatch : NameHintKind::Misspelt;
    };

    if (inner.empty()) {
        hint.kind = NameHintKind::EmptyTag;
    } else if (inner.find('<') != std::string_view::npos) {
        hint.kind = NameHintKind::BracketInsideTag;
    } else if (const int r = FindModifierPrefix(inner); r != 0) {
        const std::string_view modifier = KeyTable[r].Name;
        const std::string_view rest = inner.substr(modifier.size());
        if (!modifierPrefixIgnoringCase(rest).empty()) {
            hint.kind = NameHintKind::TwoModifiers;
        } else if (const auto match = nearestName(rest)) {
            suggest(std::string(modifier) + keyAfterModifier(match->name), match->caseOnly);
        } else {
            hint.kind = NameHintKind::UnknownName;
        }
    } else if (const auto match = closeName(inner)) {
        suggest(match->name, match->caseOnly);
    } else if (const std::string_view modifier = modifierPrefixIgnoringCase(inner);
               !modifier.empty() && inner.size() > modifier.size()) {
        // "ctrlx", "SHIFTTab": the modifier's letter case is the fault; the key may be too.
        const std::string_view rest = inner.substr(modifier.size());
        if (FindKeyByName(rest) != 0) {
            suggest(std::string(modifier) + keyAfterModifier(rest), true);
        } else if (const auto match = nearestName(rest)) {
            suggest(std::string(modifier) + keyAfterModifier(match->name), match->caseOnly);
        } else {
            hint.kind = NameHintKind::UnknownName;
        }
    } else if (const auto match = fuzzyName(inner)) {
        suggest(match->name, false);
    } else {
        hint.kind = NameHintKind::UnknownName;
    }

    switch (hint.kind) {
        case NameHintKind::CaseMismatch:
            hint.text = token + " is not a key name; names are case-sensitive: " + hint.suggestion;
            break;
        case NameHintKind::Misspelt:
            hint.text = token + ": did you mean " + hint.suggestion + "?";
            break;
        case NameHintKind::TwoModifiers:
            hint.text = token + ": only one modifier (Shift, Ctrl or Alt) per tag";
            break;
        case NameHintKind::BracketInsideTag:
            hint.text = token + " is read as one tag; write << for the character <";
            break;
        case NameHintKind::EmptyTag:
            hint.text = "<> is empty and types nothing";
            break;
        default:
            hint.text = token + " is not a key name";
            break;
    }
    return hint;
}

NameHint characterHint(const std::string& token) {
    NameHint hint;
    hint.token = token;
    if (token == " ") {
        hint.kind = NameHintKind::Blank;
        hint.suggestion = "<Space>";
        hint.text = "a blank types nothing; write <Space>";
    } else if (static_cast<unsigned char>(token[0]) < 0x20) {
        hint.kind = NameHintKind::NoKeyCharacter;
        hint.text = "a control character types nothing";
    } else {
        hint.kind = NameHintKind::NoKeyCharacter;
        hint.text = "\"" + token + "\" has no key and types nothing";
    }
    return hint;
}

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

}  // namespace

MemoryUse computeMemoryUse(const SetupRecord& setup) {
    SetupRecord copy = setup;
    DeviceImage image;
    MemoryUse use;
    use.result = BuildDeviceImage(copy, image);
    // The build has normalised `copy`; a failed build stopped early, so count the rest.
    use.used = use.result.ok() ? use.result.setupSize - 1 : stringAreaDemand(copy);
    if (!use.result.ok()) {
        use.level = MemoryLevel::Error;
    } else if (use.used * 100 >= use.capacity * kMemoryWarningPercent) {
        use.level = MemoryLevel::Warning;
    }
    return use;
}

std::string memoryMeterText(const MemoryUse& use) {
    return std::to_string(use.used) + " / " + std::to_string(use.capacity) + " bytes";
}

std::string imageFailureText(const ImageResult& result) {
    const std::string func2 = result.layer == 2 ? " (Func2)" : "";
    switch (result.error) {
        case ImageError::None:
            break;
        case ImageError::KeyTooLong:
            return "Key " + std::to_string(result.key) + " is too long" + func2;
        case ImageError::PreambleTooLong:
            return "MCR preamble is too long";
        case ImageError::PostambleTooLong:
            return "MCR postamble is too long";
        case ImageError::MemoryFull:
            if (result.key == kPreambleEntry) {
                return "memory full at the preamble";
            }
            if (result.key == kPostambleEntry) {
                return "memory full at the postamble";
            }
            return "memory full at key " + std::to_string(result.key) + func2;
    }
    return {};
}

KeyLengths compiledLengths(const SetupRecord& setup, int key) {
    // Only this key's strings matter, and normalising them alone is what the build does
    // for this key.
    if (key < 1 || key > kKeyCount) {
        throw std::out_of_range("key number out of range");
    }
    SetupRecord one;
    one.KeyStrings[key] = setup.KeyStrings[key];
    one.Func2Strings[key] = setup.Func2Strings[key];
    NormalizeFunc2Keys(one);
    return lengthsOf(one, key);
}

std::array<KeyLengths, kKeyCount + 1> allCompiledLengths(const SetupRecord& setup) {
    SetupRecord copy = setup;
    NormalizeFunc2Keys(copy);
    std::array<KeyLengths, kKeyCount + 1> lengths{};
    for (int k = 1; k <= kKeyCount; ++k) {
        lengths[k] = lengthsOf(copy, k);
    }
    return lengths;
}

std::string keyLengthsTooltip(const KeyLengths& lengths) {
    const std::string limit = std::to_string(kMaxCompiledLength);
    return "Key " + std::to_string(lengths.key) + ": " + std::to_string(lengths.keyString) + " / " +
           limit + " bytes, Func2: " + std::to_string(lengths.func2) + " / " + limit;
}

std::vector<NameHint> unknownNames(std::string_view keyString) {
    std::size_t begin = 0;
    std::size_t end = keyString.size();
    while (begin < end && isBlank(keyString[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(keyString[end - 1])) {
        --end;
    }

    std::vector<NameHint> hints;
    std::string source(keyString.substr(begin, end - begin));
    std::size_t position = begin;
    int modifierTags = 0;
    while (!source.empty()) {
        const std::size_t before = source.size();
        const std::string token = NextToken(source);
        const int at = static_cast<int>(position);
        position += before - source.size();

        if (modifierTags >= kMaxModifierTags) {
            NameHint hint;
            hint.kind = NameHintKind::ModifierLimit;
            hint.token = token;
            hint.position = at;
            hint.text = "only " + std::to_string(kMaxModifierTags) +
                        " tags with Shift, Ctrl or Alt count; the rest of the line is ignored";
            hints.push_back(std::move(hint));
            break;
        }
        const bool isTag = token.size() >= 2 && token.front() == '<';
        if (isTag && FindModifierPrefix(std::string_view(token).substr(1, token.size() - 2)) != 0) {
            ++modifierTags;
        }
        // The compiler decides alone whether the token types anything.
        if (!CompileKeyString(token).empty()) {
            continue;
        }
        if (std::any_of(hints.begin(), hints.end(),
                        [&](const NameHint& h) { return h.token == token; })) {
            continue;
        }
        NameHint hint = isTag ? tagHint(token) : characterHint(token);
        hint.position = at;
        hints.push_back(std::move(hint));
    }
    return hints;
}

}  // namespace qk750
