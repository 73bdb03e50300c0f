#include "app/key_editing.h"

#include <algorithm>
#include <optional>

namespace qk750 {

namespace {

struct TokenSpan {
    int start;  // index of the "<"
    int end;    // index of the ">"
};

int clampCaret(std::string_view text, int caret) {
    return std::clamp(caret, 0, static_cast<int>(text.size()));
}

// The tag around the caret: walks left from the character just after the caret to a "<"
// (giving up at a ">" other than that character), then right to the first ">" (giving up
// at another "<").
std::optional<TokenSpan> tokenAround(std::string_view text, int caret) {
    const std::size_t firstOpen = text.find('<');
    if (text.empty() || firstOpen == std::string_view::npos ||
        static_cast<int>(firstOpen) > caret || text.find('>') == std::string_view::npos ||
        (caret == 0 && text.front() != '<')) {
        return std::nullopt;
    }
    const int size = static_cast<int>(text.size());
    int start = caret;
    for (;; --start) {
        if (start < 0) {
            return std::nullopt;
        }
        // With the caret at the end there is no character after it.
        if (start >= size) {
            continue;
        }
        if (text[start] == '<') {
            break;
        }
        if (text[start] == '>' && start != caret) {
            return std::nullopt;
        }
    }
    for (int i = start + 1; i < size; ++i) {
        if (text[i] == '<') {
            return std::nullopt;
        }
        if (text[i] == '>') {
            return TokenSpan{start, i};
        }
    }
    return std::nullopt;
}

LineEdit removeToken(std::string_view text, TokenSpan span) {
    std::string result(text.substr(0, static_cast<std::size_t>(span.start)));
    result += text.substr(static_cast<std::size_t>(span.end) + 1);
    const int caret = std::min(span.start, static_cast<int>(result.size()));
    return {std::move(result), caret, true};
}

std::string keyQuestion(std::string_view verb, int key) {
    return "\r   " + std::string(verb) + " Key " + std::to_string(key) +
           " ? Are you sure ?     \r\r";
}

}  // namespace

LineEdit DeleteTokenAtCaret(std::string_view text, int caret) {
    caret = clampCaret(text, caret);
    if (const auto span = tokenAround(text, caret)) {
        return removeToken(text, *span);
    }
    return {std::string(text), caret, false};
}

LineEdit BackspaceToken(std::string_view text, int caret) {
    caret = clampCaret(text, caret);
    if (text.empty()) {
        return {std::string(), 0, false};
    }
    if (text.size() == 1) {
        return {std::string(), 0, true};
    }
    // At the end the search starts at the last character, so a final tag is found.
    int searchCaret = caret;
    if (caret == static_cast<int>(text.size()) && text.find('<') != std::string_view::npos) {
        --searchCaret;
    }
    // Only a tag whose "<" lies before the caret: Backspace never deletes what follows it.
    if (const auto span = tokenAround(text, searchCaret); span && span->start < searchCaret) {
        return removeToken(text, *span);
    }
    // The caret stays where it was: Backspace then removes the character before it.
    return {std::string(text), caret, false};
}

LineEdit removeSelection(std::string_view text, int start, int length) {
    start = clampCaret(text, start);
    length = std::clamp(length, 0, static_cast<int>(text.size()) - start);
    std::string result(text);
    result.erase(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
    return {std::move(result), start, true};
}

const std::array<std::string_view, kSpecialKeyCount>& SpecialKeyItems() {
    static constexpr std::array<std::string_view, kSpecialKeyCount> kItems = {
        "FUNC2_TOGGLE", "FUNC2_SHIFT", "Shift",  "Alt",   "Ctrl",   "Caps",  "NumLock", "ScrLock",
        "HEB",          "ENG",         "PrtScr", "Pause", "LShift", "LAlt",  "LCtrl",   "RShift",
        "RAlt",         "RCtrl",       "WINKey", "Pad /", "Pad +",  "Pad -", "Pad *",   "Pad Enter",
    };
    return kItems;
}

bool isFunc2Item(std::string_view item) {
    return item == "FUNC2_TOGGLE" || item == "FUNC2_SHIFT";
}

std::string SpecialKeyTag(std::string_view item, SpecialKeyModifier modifier) {
    std::string_view prefix;
    switch (modifier) {
        case SpecialKeyModifier::Shift:
            prefix = "<Shift";
            break;
        case SpecialKeyModifier::Alt:
            prefix = "<Alt";
            break;
        case SpecialKeyModifier::Ctrl:
            prefix = "<Ctrl";
            break;
        case SpecialKeyModifier::None:
            break;
    }
    if (isFunc2Item(item)) {
        prefix = {};
    }
    std::string tag = prefix.empty() ? std::string("<") : std::string(prefix);
    tag += item;
    tag += '>';
    return tag;
}

KeyLines addSpecialKey(const KeyLines& lines, std::string_view item, SpecialKeyModifier modifier) {
    const std::string tag = SpecialKeyTag(item, modifier);
    if (isFunc2Item(item)) {
        return {tag, tag, 0};
    }
    KeyLines result = lines;
    (result.selector == 1 ? result.func2String : result.keyString) += tag;
    return result;
}

AppendTarget appendTarget(int editTarget, int selector) {
    switch (editTarget) {
        case 1:
            return selector == 1 ? AppendTarget::Func2Line : AppendTarget::KeyStringLine;
        case 2:
            return AppendTarget::PreambleLine;
        case 3:
            return AppendTarget::PostambleLine;
        default:
            return AppendTarget::None;
    }
}

bool deleteAsksForWholeKey(int caret, int textLength, bool keyTouched) {
    return textLength > 0 && caret == textLength && !keyTouched;
}

bool mayRestoreKey(int key, const UndoKeyRec& undo) {
    return undo.key != 0 && key == undo.key &&
           !(undo.keyString.empty() && undo.func2String.empty());
}

std::string deleteKeyQuestion(int key) {
    return keyQuestion("Delete", key);
}

std::string restoreKeyQuestion(int key) {
    return keyQuestion("Restore", key);
}

std::string keyStringLabel(int key) {
    return "Key " + std::to_string(key) + " String:";
}

std::string func2StringLabel(int key) {
    return "Key " + std::to_string(key) + " Func2 String:";
}

LineKeyDecision decideLineKey(LineKey key, std::string_view text, int caret, int selectionLength,
                              bool keyTouched) {
    using Action = LineKeyDecision::Action;
    LineKeyDecision decision;
    decision.touchesKey = key != LineKey::Delete;
    caret = clampCaret(text, caret);
    const int size = static_cast<int>(text.size());
    switch (key) {
        case LineKey::Escape:
            decision.action = Action::FocusGrid;
            break;
        case LineKey::Enter:
            decision.action = Action::AppendEnter;
            break;
        case LineKey::Delete:
            if (selectionLength <= 0 && deleteAsksForWholeKey(caret, size, keyTouched)) {
                decision.action = Action::AskDeleteWholeKey;
            } else {
                decision.action = Action::SetText;
                decision.edit = selectionLength > 0 ? removeSelection(text, caret, selectionLength)
                                                    : DeleteTokenAtCaret(text, caret);
            }
            break;
        case LineKey::Backspace:
            decision.action = Action::SetText;
            // A selection goes as a whole, not the character before it.
            decision.edit = selectionLength > 0 ? removeSelection(text, caret, selectionLength)
                                                : BackspaceToken(text, caret);
            break;
        case LineKey::Other:
            break;
    }
    return decision;
}

}  // namespace qk750
