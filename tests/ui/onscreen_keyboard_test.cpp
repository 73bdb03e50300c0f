#include <QtTest>

#include "keys/key_string.h"
#include "keys/key_table.h"
#include "ui/onscreen_keyboard.h"

using namespace qk750;

namespace {

Bytes compile(const QString& text) {
    return CompileKeyString(text.toLatin1().toStdString());
}

// The n-th key (from 1, left to right, top to bottom) whose plain caption is `caption`.
int findKey(const std::vector<KeyboardKey>& keys, const QString& caption, int n = 1) {
    for (int i = 0; i < static_cast<int>(keys.size()); ++i) {
        if (keys[static_cast<std::size_t>(i)].captions[0] == caption && --n == 0) {
            return i;
        }
    }
    return -1;
}

// A control at the main window's size.
struct Keyboard : OnScreenKeyboard {
    Keyboard() { resize(691, 203); }
    void click(const QString& caption, int n = 1) {
        QTest::mouseClick(this, Qt::LeftButton, {}, keyRect(findKey(keys(), caption, n)).center());
    }
};

}  // namespace

class OnScreenKeyboardTest : public QObject {
    Q_OBJECT

private slots:
    // Each key's four outputs are one physical key of the keyboard, bare and with Shift,
    // Ctrl and Alt: a wrong shifted pair, a misspelt name or a broken escape shows up here.
    void everyOutputTypesTheKeyItShows() {
        for (const KeyboardKey& key : StandardKeyboardKeys()) {
            const QByteArray what = key.captions[0].toLatin1();
            const Bytes plain = compile(key.outputs[0]);
            if (key.kind == KeyboardKey::Shift || key.kind == KeyboardKey::Ctrl ||
                key.kind == KeyboardKey::Alt || key.kind == KeyboardKey::Caps) {
                QVERIFY2(
                    plain.empty() && (key.outputs[1] + key.outputs[2] + key.outputs[3]).isEmpty(),
                    what);
                continue;
            }
            QVERIFY2(plain.size() == 2 && plain[1] == kEndMark, what);
            if (key.kind == KeyboardKey::Delay) {
                QVERIFY2(key.outputs[1].isEmpty() && key.captions[1].isEmpty(), what);
                continue;
            }
            const std::uint8_t code = plain[0];
            QCOMPARE(compile(key.outputs[1]), (Bytes{kModifiedGroup, kModShift, code, kEndMark}));
            QCOMPARE(compile(key.outputs[2]), (Bytes{kModifiedGroup, kModCtrl, code, kEndMark}));
            QCOMPARE(compile(key.outputs[3]), (Bytes{kModifiedGroup, kModAlt, code, kEndMark}));
            if (key.kind == KeyboardKey::Ordinary) {
                // The Shift caption is the character the Shift output types.
                const int row = FindKeyByName(key.captions[1].toLatin1().toStdString());
                QVERIFY2(row > 0 && KeyTable[static_cast<std::size_t>(row)].Code == code, what);
            }
        }
    }

    // Clicks by plain caption ("Shift#2" is the right Shift) and what they type.
    void clicksTypeForTheLatchState() {
        const struct {
            QStringList clicks, typed;
        } cases[] = {
            {{"Shift", "F11", "F11", "Esc"}, {"<ShiftF11>", "<F11>", "<Esc>"}},  // Shift: one key
            {{"Shift#2", "/", "/"}, {"?", "/"}},
            {{"Shift", "Shift", "a"}, {"a"}},
            {{"Shift", "Ctrl", "a", "Shift", "Ctrl", "Ctrl", "a"}, {"<CtrlA>", "a"}},
            {{"Ctrl", "Alt", "Alt", "F4"}, {"<F4>"}},  // Alt releases Ctrl
            {{"Alt", "Shift", "1"}, {"!"}},
            {{"Caps", "a", "b", "Caps", "c"}, {"A", "B", "c"}},
            {{"Caps", "Shift", "a", "a", "Ctrl", "a"}, {"a", "A", "<CtrlA>"}},
            {{"Caps", "5", "Enter"}, {"5", "<Enter>"}},
            {{"Shift", "Delay", "a"}, {"<delay>", "a"}},
        };
        for (const auto& c : cases) {
            Keyboard kb;
            QStringList got;
            connect(&kb, &OnScreenKeyboard::keyClicked,
                    [&](const QString& typed) { got << typed; });
            for (const QString& click : c.clicks) {
                const QStringList parts = click.split(u'#');
                QVERIFY2(findKey(kb.keys(), parts[0]) >= 0, qPrintable(click));
                kb.click(parts[0], parts.size() > 1 ? parts[1].toInt() : 1);
            }
            QCOMPARE(got, c.typed);
        }
    }

    // Keys lie apart inside the control, each found where it is drawn.
    void keysLieApart() {
        const Keyboard kb;
        for (int i = 0, n = static_cast<int>(kb.keys().size()); i < n; ++i) {
            QVERIFY(kb.rect().contains(kb.keyRect(i)) && kb.keyAt(kb.keyRect(i).center()) == i);
            for (int j = i + 1; j < n; ++j) {
                QVERIFY2(!kb.keyRect(i).intersects(kb.keyRect(j)),
                         qPrintable(kb.keys()[i].captions[0]));
            }
        }
    }
};

QTEST_MAIN(OnScreenKeyboardTest)
#include "onscreen_keyboard_test.moc"
