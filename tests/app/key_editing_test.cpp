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

TEST(DeleteTokenAtCaret, RemovesTheTagAtOrAroundTheCaret) {
    checkEdits(DeleteTokenAtCaret, {
                                       // Just before the "<", inside, just before the ">".
                                       {"x<Tab>y", 1, {"xy", 1, true}},
                                       {"x<Tab>y", 3, {"xy", 1, true}},
                                       {"x<Tab>y", 5, {"xy", 1, true}},
                                       {"<Tab>y", 0, {"y", 0, true}},
                                       {"<>", 0, {"", 0, true}},
                                       {"ab<Enter>", 2, {"ab", 2, true}},
                                       // The inner "<" starts the tag that is removed.
                                       {"a<b<Enter>", 3, {"a<b", 3, true}},
                                       {"<a><b>", 4, {"<a>", 3, true}},
                                   });
}

TEST(DeleteTokenAtCaret, LeavesEverythingElseToTheLine) {
    checkEdits(DeleteTokenAtCaret, {
                                       {"", 0, {"", 0, false}},
                                       {"a", 0, {"a", 0, false}},
                                       {"<", 0, {"<", 0, false}},
                                       {"x<Tab>y", 0, {"x<Tab>y", 0, false}},
                                       // Just after the ">" and at the end.
                                       {"x<Tab>y", 6, {"x<Tab>y", 6, false}},
                                       {"ab<Enter>", 9, {"ab<Enter>", 9, false}},
                                       // No ">", or a second "<" before it.
                                       {"a<bc", 1, {"a<bc", 1, false}},
                                       {"a<b<Enter>", 2, {"a<b<Enter>", 2, false}},
                                       // The first "<" lies after the caret.
                                       {"a>b<c>", 1, {"a>b<c>", 1, false}},
                                       // A caret beyond the text counts as the end.
                                       {"x<Tab>y", 99, {"x<Tab>y", 7, false}},
                                       {"x<Tab>y", -3, {"x<Tab>y", 0, false}},
                                   });
}

TEST(BackspaceToken, RemovesTheTagBeforeOrAroundTheCaret) {
    checkEdits(BackspaceToken, {
                                   {"ab<Enter>", 9, {"ab", 2, true}},
                                   {"ab<Enter>", 5, {"ab", 2, true}},
                                   {"ab<Enter>", 3, {"ab", 2, true}},
                                   {"<a><b>", 6, {"<a>", 3, true}},
                                   {"<>", 2, {"", 0, true}},
                                   {"x<Tab>y", 5, {"xy", 1, true}},
                                   // A single character goes wherever the caret is.
                                   {"a", 1, {"", 0, true}},
                                   {"a", 0, {"", 0, true}},
                                   {"<", 1, {"", 0, true}},
                               });
}

TEST(BackspaceToken, LeavesTheCaretForTheLineToDeleteOneCharacter) {
    checkEdits(BackspaceToken, {
                                   {"", 0, {"", 0, false}},
                                   {"ab<Enter>", 1, {"ab<Enter>", 1, false}},
                                   {"ab", 2, {"ab", 2, false}},
                                   // Just before a tag: the "b" goes, not the tag after it.
                                   {"ab<Enter>", 2, {"ab<Enter>", 2, false}},
                                   // Just after a tag followed by more text: the ">" goes.
                                   {"<Tab>x", 5, {"<Tab>x", 5, false}},
                                   // At the end after a plain character: that character
                                   // goes, so the caret must not move left.
                                   {"<Enter>x", 8, {"<Enter>x", 8, false}},
                                   {"a<b", 3, {"a<b", 3, false}},
                               });
}

TEST(SpecialKeys, EveryItemAndModifierMakesATagThatTypesSomething) {
    const auto& items = SpecialKeyItems();
    EXPECT_EQ(items.front(), "FUNC2_TOGGLE");
    EXPECT_EQ(items[6], "NumLock");
    EXPECT_EQ(items.back(), "Pad Enter");
    for (const std::string_view item : items) {
        EXPECT_NE(FindKeyByName(item), 0) << item;
        for (const auto modifier : {SpecialKeyModifier::None, SpecialKeyModifier::Shift,
                                    SpecialKeyModifier::Alt, SpecialKeyModifier::Ctrl}) {
            const std::string tag = SpecialKeyTag(item, modifier);
            EXPECT_FALSE(CompileKeyString(tag).empty()) << tag;
        }
    }
}

TEST(SpecialKeys, TagsTakeTheModifierExceptForTheFunc2Items) {
    const struct {
        const char* item;
        SpecialKeyModifier modifier;
        const char* tag;
    } cases[] = {
        {"NumLock", SpecialKeyModifier::Alt, "<AltNumLock>"},
        {"Caps", SpecialKeyModifier::Shift, "<ShiftCaps>"},
        {"Pad +", SpecialKeyModifier::Ctrl, "<CtrlPad +>"},
        {"Pad Enter", SpecialKeyModifier::None, "<Pad Enter>"},
        {"FUNC2_SHIFT", SpecialKeyModifier::Ctrl, "<FUNC2_SHIFT>"},
        {"FUNC2_TOGGLE", SpecialKeyModifier::Shift, "<FUNC2_TOGGLE>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SpecialKeyTag(c.item, c.modifier), c.tag);
    }
}

TEST(SpecialKeys, Func2ItemsReplaceBothLinesOthersAppendToTheActiveOne) {
    const KeyLines onFunc2{"abc", "def", 1};
    EXPECT_EQ(addSpecialKey(onFunc2, "FUNC2_SHIFT", SpecialKeyModifier::Ctrl),
              (KeyLines{"<FUNC2_SHIFT>", "<FUNC2_SHIFT>", 0}));
    EXPECT_EQ(addSpecialKey(onFunc2, "NumLock", SpecialKeyModifier::Alt),
              (KeyLines{"abc", "def<AltNumLock>", 1}));
    EXPECT_EQ(addSpecialKey({"abc", "def", 0}, "Pause", SpecialKeyModifier::None),
              (KeyLines{"abc<Pause>", "def", 0}));
}

TEST(KeyEditing, RestoreOnlyTheDeletedKeyWithAKeyString) {
    const UndoKeyRec undo{7, "abc", ""};
    EXPECT_TRUE(mayRestoreKey(7, undo));
    EXPECT_FALSE(mayRestoreKey(8, undo));
    EXPECT_FALSE(mayRestoreKey(7, UndoKeyRec{7, "", "<Tab>"}));
    EXPECT_FALSE(mayRestoreKey(0, UndoKeyRec{}));
}

TEST(KeyEditing, QuestionsAndLabels) {
    EXPECT_EQ(deleteKeyQuestion(7), "\r   Delete Key 7 ? Are you sure ?     \r\r");
    EXPECT_EQ(restoreKeyQuestion(84), "\r   Restore Key 84 ? Are you sure ?     \r\r");
    EXPECT_EQ(keyStringLabel(7), "Key 7 String:");
    EXPECT_EQ(func2StringLabel(7), "Key 7 Func2 String:");
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
