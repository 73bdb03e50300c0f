#pragma once

#include <array>
#include <string>
#include <string_view>

namespace qk750 {

// The window-free decisions of key-string editing in the main window and the MCR dialog.
// Carets are counted in bytes from the start of the text (0 .. size).

// The result of a token-aware deletion: the line's new text and caret, and whether the
// key was consumed (when it was not, the line then handles the key itself).
struct LineEdit {
    std::string text;
    int caret = 0;
    bool consumed = false;

    bool operator==(const LineEdit&) const = default;
};

// Delete: with the caret just before a tag's "<" or inside it (up to just before its ">"),
// removes the whole tag and leaves the caret where it began. Otherwise nothing changes
// and the key is not consumed.
LineEdit DeleteTokenAtCaret(std::string_view text, int caret);

// Backspace: with the caret inside a tag, or at the end of a text that ends in a tag,
// removes the whole tag and leaves the caret where it began. A one-character text becomes
// empty. Otherwise nothing changes (caret included) and the key is not consumed, so
// Backspace deletes one character as usual.
LineEdit BackspaceToken(std::string_view text, int caret);

// Removes `length` bytes from `start` (the selection) and puts the caret at its start.
LineEdit removeSelection(std::string_view text, int start, int length);

// The special-key list, in the order the list shows it.
inline constexpr int kSpecialKeyCount = 24;
const std::array<std::string_view, kSpecialKeyCount>& SpecialKeyItems();

// The modifier choice beside the special-key list, in the order of its items.
enum class SpecialKeyModifier { None = 0, Shift = 1, Alt = 2, Ctrl = 3 };

// The Func2 keys never take a modifier and replace both strings of a key.
bool isFunc2Item(std::string_view item);

// The tag "Add Special Key" inserts: "<" + item + ">", or "<Shift", "<Alt", "<Ctrl" + item
// + ">" with a modifier (ignored for the Func2 items).
std::string SpecialKeyTag(std::string_view item, SpecialKeyModifier modifier);

// The two key-string lines of the main window and the line selector (0 key string,
// 1 Func2 string).
struct KeyLines {
    std::string keyString;
    std::string func2String;
    int selector = 0;

    bool operator==(const KeyLines&) const = default;
};

// The lines after "Add Special Key": a Func2 item replaces both lines with its tag and
// leaves the selector on the key-string line; any other tag is appended to the active
// line. (The modifier choice then returns to "None".)
KeyLines addSpecialKey(const KeyLines& lines, std::string_view item, SpecialKeyModifier modifier);

// Where appended text goes, by EditTarget and the line selector.
enum class AppendTarget { None, KeyStringLine, Func2Line, PreambleLine, PostambleLine };
AppendTarget appendTarget(int editTarget, int selector);

// A deleted key that Ctrl+Z may bring back.
struct UndoKeyRec {
    int key = 0;  // 0: nothing to restore
    std::string keyString;
    std::string func2String;
};

// Delete in a line asks to delete the whole key only with the caret at the end of a
// non-empty line and no other key pressed since the key was clicked on the grid.
bool deleteAsksForWholeKey(int caret, int textLength, bool keyTouched);

// Ctrl+Z restores only the key last deleted, and only when it held something: a key with
// only a Func2 string comes back too.
bool mayRestoreKey(int key, const UndoKeyRec& undo);

// The confirmations, with the carriage returns the message boxes show as line breaks.
std::string deleteKeyQuestion(int key);
std::string restoreKeyQuestion(int key);

// "Key 7 String:" and "Key 7 Func2 String:".
std::string keyStringLabel(int key);
std::string func2StringLabel(int key);

// What a key-down in a key-string line does.
enum class LineKey { Escape, Enter, Delete, Backspace, Other };

struct LineKeyDecision {
    enum class Action {
        PassToLine,         // the line handles the key as usual
        FocusGrid,          // Esc
        AppendEnter,        // append "<Enter>", then focus the line again
        AskDeleteWholeKey,  // confirm; on Yes empty both strings of the key (the key is
                            // then spent), on Cancel pass it to the line
        SetText,            // give the line `edit`; pass the key on unless edit.consumed
    };
    Action action = Action::PassToLine;
    LineEdit edit;
    bool touchesKey = false;  // sets KeyTouched (every key but Delete)
};

// `caret` is the caret or the start of the selection, `selectionLength` 0 when nothing is
// selected. A selection is removed by Delete and by Backspace alike; other keys act on it
// as the line does (typing replaces it).
LineKeyDecision decideLineKey(LineKey key, std::string_view text, int caret, int selectionLength,
                              bool keyTouched);

}  // namespace qk750
