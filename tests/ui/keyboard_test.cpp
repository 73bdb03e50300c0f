#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

#include "keys/key_string.h"
#include "keys/key_table.h"
#include "ui/Keyboard.h"

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

bool isModifierKind(int kind) {
    return kind == KeyboardKey::Shift || kind == KeyboardKey::Ctrl || kind == KeyboardKey::Alt ||
           kind == KeyboardKey::Caps;
}

QRect unitRect(const KeyboardKey& k) {
    return QRect(k.left, k.top, k.width, k.height);
}

void sendMouse(QWidget& w, QEvent::Type type, const QPoint& pos, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(pos), w.mapToGlobal(QPointF(pos)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

}  // namespace

class KeyboardTest : public QObject {
    Q_OBJECT

private slots:
    void layoutHasEightyTwoKeysInsideTheBoardWithoutOverlaps();
    void everyOutputTypesTheKeyItShows();
    void appendedOutputsNeverRunTogether();
    void outputRule_data();
    void outputRule();
    void clicksTypeForTheLatchState_data();
    void clicksTypeForTheLatchState();
    void captionsFollowTheLatchState();
    void pressedKeyIsLitUntilReleasedAndDraggingOffCancels();
    void latchedModifierIsDrawnDown();
    void disabledControlIgnoresClicks();
    void keyAtMatchesKeyRect_data();
    void keyAtMatchesKeyRect();
    void clickingLeavesFocusOnTheLine();
};

void KeyboardTest::layoutHasEightyTwoKeysInsideTheBoardWithoutOverlaps() {
    const auto& keys = StandardKeyboardKeys();
    QCOMPARE(keys.size(), std::size_t{82});

    const QRect board(3, 3, 152, 51);  // x 3..155, y 3..54
    QMap<int, int> kinds;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        ++kinds[keys[i].kind];
        QVERIFY2(board.contains(unitRect(keys[i])), qPrintable(keys[i].captions[0]));
        for (std::size_t j = i + 1; j < keys.size(); ++j) {
            QVERIFY2(!unitRect(keys[i]).intersects(unitRect(keys[j])),
                     qPrintable(keys[i].captions[0] + " / " + keys[j].captions[0]));
        }
    }
    QCOMPARE(kinds[KeyboardKey::Shift], 2);
    QCOMPARE(kinds[KeyboardKey::Ctrl], 2);
    QCOMPARE(kinds[KeyboardKey::Alt], 2);
    QCOMPARE(kinds[KeyboardKey::Caps], 1);
    QCOMPARE(kinds[KeyboardKey::Delay], 1);
    // Esc, F1-F12, Back, Tab, Enter, Space, six navigation keys and four arrows.
    QCOMPARE(kinds[KeyboardKey::Function], 27);
    QCOMPARE(kinds[KeyboardKey::Ordinary], 47);
}

// Each key's four outputs are one physical key of the keyboard, bare and with Shift, Ctrl
// and Alt: a wrong shifted pair, a misspelt name or a broken escape shows up here.
void KeyboardTest::everyOutputTypesTheKeyItShows() {
    for (const KeyboardKey& key : StandardKeyboardKeys()) {
        const QByteArray what = key.captions[0].toLatin1();
        if (isModifierKind(key.kind)) {
            QVERIFY2(compile(key.outputs[0]).empty(), what);
            QVERIFY2(
                key.outputs[1].isEmpty() && key.outputs[2].isEmpty() && key.outputs[3].isEmpty(),
                what);
            continue;
        }
        const Bytes plain = compile(key.outputs[0]);
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

// The window appends each output to the end of the line, so any output followed by any
// other must type both keys, in order.
void KeyboardTest::appendedOutputsNeverRunTogether() {
    std::vector<std::pair<QString, Bytes>> outputs;
    for (const KeyboardKey& key : StandardKeyboardKeys()) {
        if (isModifierKind(key.kind)) {
            continue;
        }
        for (const QString& out : key.outputs) {
            if (!out.isEmpty()) {
                Bytes bytes = compile(out);
                bytes.pop_back();  // end mark
                outputs.emplace_back(out, std::move(bytes));
            }
        }
    }
    for (const auto& [first, firstBytes] : outputs) {
        for (const auto& [second, secondBytes] : outputs) {
            Bytes expected = firstBytes;
            expected.insert(expected.end(), secondBytes.begin(), secondBytes.end());
            expected.push_back(kEndMark);
            QVERIFY2(compile(first + second) == expected, qPrintable(first + second));
        }
    }
}

void KeyboardTest::outputRule_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QStringList>("outputs");
    const auto row = [](const char* name, QStringList captions, QStringList outputs) {
        QTest::newRow(name) << captions[0] << captions << outputs;
    };
    row("digit", {"5", "%", "5", "5"}, {"5", "%", "<Ctrl5>", "<Alt5>"});
    row("bracket", {"[", "{", "[", "["}, {"[", "{", "<Ctrl[>", "<Alt[>"});
    row("letter", {"a", "A", "A", "A"}, {"a", "A", "<CtrlA>", "<AltA>"});
    row("backslash", {"\\", "|", "\\", "\\"}, {"\\", "|", "<Ctrl\\>", "<Alt\\>"});
    // "<" and ">" are doubled: alone they would start or end a tag in the line.
    row("comma", {",", "<", ",", ","}, {",", "<<", "<Ctrl,>", "<Alt,>"});
    row("period", {".", ">", ".", "."}, {".", ">>", "<Ctrl.>", "<Alt.>"});
    row("F11", {"F11", "F11", "F11", "F11"}, {"<F11>", "<ShiftF11>", "<CtrlF11>", "<AltF11>"});
    row("PgUp", {"PgUp", "PgUp", "PgUp", "PgUp"},
        {"<PgUp>", "<ShiftPgUp>", "<CtrlPgUp>", "<AltPgUp>"});
    row("Back", {"Back", "Back", "Back", "Back"},
        {"<Back>", "<ShiftBack>", "<CtrlBack>", "<AltBack>"});
    row("Space", {"Space", "Space", "Space", "Space"},
        {"<Space>", "<ShiftSpace>", "<CtrlSpace>", "<AltSpace>"});
    row("Delay", {"Delay", "", "", ""}, {"<delay>", "", "", ""});
    row("Caps", {"Caps", "", "", ""}, {"<caps>", "", "", ""});
    row("Shift", {"Shift", "", "", ""}, {"<shift>", "", "", ""});
    row("Ctrl", {"Ctrl", "", "", ""}, {"<ctrl>", "", "", ""});
    row("Alt", {"Alt", "", "", ""}, {"<alt>", "", "", ""});
}

void KeyboardTest::outputRule() {
    QFETCH(QString, key);
    QFETCH(QStringList, captions);
    QFETCH(QStringList, outputs);
    const auto& keys = StandardKeyboardKeys();
    const int i = findKey(keys, key);
    QVERIFY(i >= 0);
    const KeyboardKey& k = keys[static_cast<std::size_t>(i)];
    QCOMPARE(QStringList(k.captions.begin(), k.captions.end()), captions);
    QCOMPARE(QStringList(k.outputs.begin(), k.outputs.end()), outputs);
}

void KeyboardTest::clicksTypeForTheLatchState_data() {
    QTest::addColumn<QStringList>("clicks");  // plain captions; "Shift#2" is the right Shift
    QTest::addColumn<QStringList>("typed");
    const auto row = [](const char* name, QStringList clicks, QStringList typed) {
        QTest::newRow(name) << clicks << typed;
    };
    row("plain", {"a", "F11", "5"}, {"a", "<F11>", "5"});
    row("Shift holds for one key", {"Shift", "F11", "F11"}, {"<ShiftF11>", "<F11>"});
    row("right Shift", {"Shift#2", "/", "/"}, {"?", "/"});
    row("Alt digit", {"Alt", "5"}, {"<Alt5>"});
    row("Ctrl bracket", {"Ctrl#2", "["}, {"<Ctrl[>"});
    row("Shift clicked twice is off", {"Shift", "Shift", "a"}, {"a"});
    row("Ctrl beats Shift", {"Shift", "Ctrl", "a", "a"}, {"<CtrlA>", "a"});
    row("Ctrl beats Alt", {"Alt", "Ctrl", "F4"}, {"<CtrlF4>"});
    row("Alt beats Shift", {"Shift", "Alt", "1"}, {"<Alt1>"});
    row("Caps stays", {"Caps", "a", "b", "Caps", "c"}, {"A", "B", "c"});
    row("Caps with Shift", {"Caps", "Shift", "a", "a"}, {"a", "A"});
    row("Caps leaves digits", {"Caps", "5", "Enter"}, {"5", "<Enter>"});
    row("Caps under Ctrl", {"Caps", "Ctrl", "q"}, {"<CtrlQ>"});
    row("Delay ends a latch", {"Shift", "Delay", "a"}, {"<delay>", "a"});
    row("shifted comma", {"Shift", ","}, {"<<"});
}

void KeyboardTest::clicksTypeForTheLatchState() {
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, typed);
    TKeyboard kb;
    kb.resize(691, 203);
    QSignalSpy spy(&kb, &TKeyboard::OnKey);
    for (const QString& click : clicks) {
        const QStringList parts = click.split(u'#');
        const int i = findKey(kb.Keys(), parts[0], parts.size() > 1 ? parts[1].toInt() : 1);
        QVERIFY2(i >= 0, qPrintable(click));
        QTest::mouseClick(&kb, Qt::LeftButton, {}, kb.keyRect(i).center());
    }
    QStringList got;
    for (const auto& args : spy) {
        got << args.at(0).toString();
    }
    QCOMPARE(got, typed);
}

void KeyboardTest::captionsFollowTheLatchState() {
    TKeyboard kb;
    const auto& keys = kb.Keys();
    const int a = findKey(keys, "a"), five = findKey(keys, "5"), shift = findKey(keys, "Shift");
    const int caps = findKey(keys, "Caps"), ctrl = findKey(keys, "Ctrl");
    const auto shown = [&] { return QStringList{kb.keyCaption(a), kb.keyCaption(five)}; };

    QCOMPARE(shown(), (QStringList{"a", "5"}));
    kb.pressKey(shift);
    QVERIFY(kb.shiftLatched());
    QCOMPARE(shown(), (QStringList{"A", "%"}));
    kb.pressKey(caps);
    QCOMPARE(shown(), (QStringList{"a", "%"}));
    kb.pressKey(shift);
    QCOMPARE(shown(), (QStringList{"A", "5"}));
    kb.pressKey(ctrl);
    QCOMPARE(kb.outputState(), 2);
    QCOMPARE(kb.keyCaption(shift), QString("Shift"));  // no Ctrl caption: the plain one
}

void KeyboardTest::pressedKeyIsLitUntilReleasedAndDraggingOffCancels() {
    TKeyboard kb;
    kb.resize(691, 203);
    QSignalSpy spy(&kb, &TKeyboard::OnKey);
    const int q = findKey(kb.Keys(), "q"), w = findKey(kb.Keys(), "w");
    const QPoint corner = kb.keyRect(q).topLeft() + QPoint(3, 3);  // clear of the caption
    const QColor red(Qt::red);

    QVERIFY(kb.grab().toImage().pixelColor(corner) != red);
    sendMouse(kb, QEvent::MouseButtonPress, kb.keyRect(q).center(), Qt::LeftButton);
    QCOMPARE(kb.grab().toImage().pixelColor(corner), red);
    QCOMPARE(spy.count(), 0);

    sendMouse(kb, QEvent::MouseMove, kb.keyRect(w).center(), Qt::LeftButton);
    QVERIFY(kb.grab().toImage().pixelColor(corner) != red);
    sendMouse(kb, QEvent::MouseButtonRelease, kb.keyRect(w).center(), Qt::NoButton);
    QCOMPARE(spy.count(), 0);

    sendMouse(kb, QEvent::MouseButtonPress, kb.keyRect(q).center(), Qt::LeftButton);
    sendMouse(kb, QEvent::MouseButtonRelease, kb.keyRect(q).center(), Qt::NoButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString("q"));
    QVERIFY(kb.grab().toImage().pixelColor(corner) != red);
}

void KeyboardTest::latchedModifierIsDrawnDown() {
    TKeyboard kb;
    kb.resize(691, 203);
    const int shift = findKey(kb.Keys(), "Shift");
    const int right = findKey(kb.Keys(), "Shift", 2);
    const auto face = [&](int i) {
        return kb.grab().toImage().pixelColor(kb.keyRect(i).bottomRight() - QPoint(4, 4));
    };
    const int z = findKey(kb.Keys(), "z");
    const QColor up = face(right);
    const QColor zUp = face(z);
    QTest::mouseClick(&kb, Qt::LeftButton, {}, kb.keyRect(shift).center());
    QVERIFY(face(right).lightness() < up.lightness());
    QCOMPARE(face(z), zUp);  // only the modifiers go down
    QTest::mouseClick(&kb, Qt::LeftButton, {}, kb.keyRect(findKey(kb.Keys(), "x")).center());
    QCOMPARE(face(right), up);
}

void KeyboardTest::disabledControlIgnoresClicks() {
    TKeyboard kb;
    kb.resize(691, 203);
    const QImage enabledLook = kb.grab().toImage();
    kb.setEnabled(false);
    QVERIFY(kb.grab().toImage() != enabledLook);

    QSignalSpy spy(&kb, &TKeyboard::OnKey);
    const int shift = findKey(kb.Keys(), "Shift"), a = findKey(kb.Keys(), "a");
    for (int i = 0; i < 4; ++i) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not accepted"));
    }
    QTest::mouseClick(&kb, Qt::LeftButton, {}, kb.keyRect(shift).center());
    QTest::mouseClick(&kb, Qt::LeftButton, {}, kb.keyRect(a).center());
    kb.pressKey(a);
    QCOMPARE(spy.count(), 0);
    QVERIFY(!kb.shiftLatched());

    kb.setEnabled(true);
    QTest::mouseClick(&kb, Qt::LeftButton, {}, kb.keyRect(a).center());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString("a"));
}

void KeyboardTest::keyAtMatchesKeyRect_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("main window") << QSize(691, 203);
    QTest::newRow("MCR dialog") << QSize(704, 203);
    QTest::newRow("small") << QSize(320, 120);
}

void KeyboardTest::keyAtMatchesKeyRect() {
    QFETCH(QSize, size);
    TKeyboard kb;
    kb.resize(400, 150);
    kb.resize(size);
    const int n = static_cast<int>(kb.Keys().size());
    for (int i = 0; i < n; ++i) {
        const QRect r = kb.keyRect(i);
        QVERIFY2(!r.isEmpty() && kb.rect().contains(r), qPrintable(kb.Keys()[i].captions[0]));
        for (const QPoint p : {r.center(), r.topLeft(), r.bottomRight()}) {
            QCOMPARE(kb.keyAt(p), i);
        }
        for (int j = i + 1; j < n; ++j) {
            QVERIFY(!r.intersects(kb.keyRect(j)));
        }
    }
    // The margin and the gap between Esc and F1 hit no key.
    QCOMPARE(kb.keyAt(QPoint(0, 0)), -1);
    const QRect esc = kb.keyRect(findKey(kb.Keys(), "Esc"));
    const QRect f1 = kb.keyRect(findKey(kb.Keys(), "F1"));
    QCOMPARE(kb.keyAt(QPoint((esc.right() + f1.left()) / 2, esc.center().y())), -1);
    QCOMPARE(kb.keyRect(n), QRect());
}

void KeyboardTest::clickingLeavesFocusOnTheLine() {
    QWidget window;
    auto* line = new QLineEdit(&window);
    auto* kb = new TKeyboard(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(line);
    layout->addWidget(kb);
    kb->setFixedSize(691, 203);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    line->setFocus();
    QVERIFY(line->hasFocus());

    QObject::connect(kb, &TKeyboard::OnKey, line,
                     [line](const QString& text) { line->setText(line->text() + text); });
    QTest::mouseClick(kb, Qt::LeftButton, {}, kb->keyRect(findKey(kb->Keys(), "Tab")).center());
    QVERIFY(line->hasFocus());
    QCOMPARE(line->text(), QString("<Tab>"));
}

QTEST_MAIN(KeyboardTest)
#include "keyboard_test.moc"
