#include "app/key_editing.h"

#include <gtest/gtest.h>

#include "keys/key_string.h"
#include "keys/key_table.h"

namespace qk750 {
namespace {

struct EditCase {
    const char* text;
    int caret;
    LineEdit expected;
};

void checkEdits(LineEdit (*edit)(std::string_view, int), const std::vector<EditCase>& cases) {
    for (const EditCase& c : cases) {
        EXPECT_EQ(edit(c.text, c.caret), c.expected) << '"' << c.text << "\" caret " << c.caret;
    }
}

// Inner "<" starts the removed tag; a caret just after the ">" or at the end, no ">", a
// second "<" before it, or the first "<" after the caret leave the key to the line; a
// caret beyond the text counts as the end.
TEST(DeleteTokenAtCaret, RemovesTheTagAtOrAroundTheCaret) {
    // clang-format off
    checkEdits(DeleteTokenAtCaret, {
        {"x<Tab>y", 1, {"xy", 1, true}}, {"x<Tab>y", 3, {"xy", 1, true}},
        {"x<Tab>y", 5, {"xy", 1, true}}, {"<Tab>y", 0, {"y", 0, true}}, {"<>", 0, {"", 0, true}},
        {"ab<Enter>", 2, {"ab", 2, true}}, {"a<b<Enter>", 3, {"a<b", 3, true}},
        {"<a><b>", 4, {"<a>", 3, true}}, {"", 0, {"", 0, false}}, {"a", 0, {"a", 0, false}},
        {"<", 0, {"<", 0, false}}, {"x<Tab>y", 0, {"x<Tab>y", 0, false}},
        {"x<Tab>y", 6, {"x<Tab>y", 6, false}}, {"ab<Enter>", 9, {"ab<Enter>", 9, false}},
        {"a<bc", 1, {"a<bc", 1, false}}, {"a<b<Enter>", 2, {"a<b<Enter>", 2, false}},
        {"a>b<c>", 1, {"a>b<c>", 1, false}}, {"x<Tab>y", 99, {"x<Tab>y", 7, false}},
        {"x<Tab>y", -3, {"x<Tab>y", 0, false}}
    });
    // clang-format on
}

// A single character goes wherever the caret is. Otherwise the line deletes one
// character itself: just before a tag (the "b" goes, not the tag), just after a tag
// followed by more text (the ">" goes), at the end after a plain character (the caret
// must not move left).
TEST(BackspaceToken, RemovesTheTagBeforeOrAroundTheCaret) {
    // clang-format off
    checkEdits(BackspaceToken, {
        {"ab<Enter>", 9, {"ab", 2, true}}, {"ab<Enter>", 5, {"ab", 2, true}},
        {"ab<Enter>", 3, {"ab", 2, true}}, {"<a><b>", 6, {"<a>", 3, true}},
        {"<>", 2, {"", 0, true}}, {"x<Tab>y", 5, {"xy", 1, true}}, {"a", 1, {"", 0, true}},
        {"a", 0, {"", 0, true}}, {"<", 1, {"", 0, true}}, {"", 0, {"", 0, false}},
        {"ab<Enter>", 1, {"ab<Enter>", 1, false}}, {"ab", 2, {"ab", 2, false}},
        {"ab<Enter>", 2, {"ab<Enter>", 2, false}}, {"<Tab>x", 5, {"<Tab>x", 5, false}},
        {"<Enter>x", 8, {"<Enter>x", 8, false}}, {"a<b", 3, {"a<b", 3, false}}
    });
    // clang-format on
}

TEST(SpecialKeys, EveryItemAndModifierMakesATagThatTypesSomething) {
    for (const std::string_view item : SpecialKeyItems()) {
        EXPECT_NE(FindKeyByName(item), 0) << item;
        for (const auto modifier : {SpecialKeyModifier::None, SpecialKeyModifier::Shift,
                                    SpecialKeyModifier::Alt, SpecialKeyModifier::Ctrl}) {
            const std::string tag = SpecialKeyTag(item, modifier);
            EXPECT_FALSE(CompileKeyString(tag).empty()) << tag;
        }
    }
}

TEST(SpecialKeys, Func2ItemsReplaceBothLinesOthersAppendToTheActiveOne) {
    const KeyLines onFunc2{"abc", "def", 1};
    EXPECT_EQ(addSpecialKey(onFunc2, "FUNC2_SHIFT", SpecialKeyModifier::Ctrl),
              (KeyLines{"<FUNC2_SHIFT>", "<FUNC2_SHIFT>", 0}));
    EXPECT_EQ(addSpecialKey(onFunc2, "NumLock", SpecialKeyModifier::Alt),
              (KeyLines{"abc", "def<AltNumLock>", 1}));
    EXPECT_EQ(addSpecialKey({"abc", "def", 0}, "Pad +", SpecialKeyModifier::Ctrl),
              (KeyLines{"abc<CtrlPad +>", "def", 0}));
    EXPECT_EQ(addSpecialKey(onFunc2, "FUNC2_TOGGLE", SpecialKeyModifier::None),
              (KeyLines{"<FUNC2_TOGGLE>", "<FUNC2_TOGGLE>", 0}));
}

TEST(KeyEditing, RestoreOnlyTheDeletedKeyWithAKeyString) {
    const UndoKeyRec undo{7, "abc", ""};
    EXPECT_TRUE(mayRestoreKey(7, undo));
    EXPECT_FALSE(mayRestoreKey(8, undo));
    EXPECT_FALSE(mayRestoreKey(7, UndoKeyRec{7, "", "<Tab>"}));
    EXPECT_FALSE(mayRestoreKey(0, UndoKeyRec{}));
}

TEST(DecideLineKey, ChoosesWhatTheKeyDoes) {
    using Action = LineKeyDecision::Action;
    const struct {
        LineKey key;
        const char* text;
        int caret;
        int selection;
        bool keyTouched;
        Action action;
        LineEdit edit;
        bool touches;
    } cases[] = {
        // Delete at the end of an untouched line asks for the whole key; touched, or with
        // the caret elsewhere, or on an empty line, it does not.
        {LineKey::Delete, "abc", 3, 0, false, Action::AskDeleteWholeKey, {}, false},
        {LineKey::Delete, "abc", 3, 0, true, Action::SetText, {"abc", 3, false}, false},
        {LineKey::Delete, "abc", 2, 0, false, Action::SetText, {"abc", 2, false}, false},
        {LineKey::Delete, "", 0, 0, false, Action::SetText, {"", 0, false}, false},
        {LineKey::Delete, "x<Tab>y", 1, 0, true, Action::SetText, {"xy", 1, true}, false},
        // A selection goes as a whole, with Delete and with Backspace.
        {LineKey::Delete, "a<Tab>b", 1, 5, false, Action::SetText, {"ab", 1, true}, false},
        {LineKey::Backspace, "abcd", 1, 2, true, Action::SetText, {"ad", 1, true}, true},
        {LineKey::Backspace, "ab<Enter>", 9, 0, false, Action::SetText, {"ab", 2, true}, true},
        // A caret or selection past the end stops there.
        {LineKey::Backspace, "abcd", 2, 99, true, Action::SetText, {"ab", 2, true}, true},
        {LineKey::Delete, "abc", 9, 0, false, Action::AskDeleteWholeKey, {}, false},
        {LineKey::Escape, "abc", 1, 0, false, Action::FocusGrid, {}, true},
        {LineKey::Enter, "abc", 1, 0, false, Action::AppendEnter, {}, true},
        {LineKey::Other, "abc", 1, 1, false, Action::PassToLine, {}, true},
    };
    for (const auto& c : cases) {
        const LineKeyDecision d = decideLineKey(c.key, c.text, c.caret, c.selection, c.keyTouched);
        SCOPED_TRACE(std::string(c.text) + " caret " + std::to_string(c.caret));
        EXPECT_EQ(d.action, c.action);
        EXPECT_EQ(d.touchesKey, c.touches);
        if (c.action == Action::SetText) {
            EXPECT_EQ(d.edit, c.edit);
        }
    }
}

}  // namespace
}  // namespace qk750
