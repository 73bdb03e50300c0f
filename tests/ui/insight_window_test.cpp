#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QtTest>

#include "ui/mcr_custom_dialog.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

namespace {

struct InsightFixture : StartedFixture {
    MainWindow& window = main();

    InsightFixture() {
        // No built-in reader mode, so the MCR lines are editable.
        state.Setup.Mcr.McrSetupMode = 0;
        window.LoadSetupIntoDialogs();
    }
};

}  // namespace

// Key strings hold 8-bit text: a character outside Latin-1 is not taken, however it comes.
class InsightWindowTest : public QObject {
    Q_OBJECT

private slots:
    void notLatin1IsRefused_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("way");
        QTest::newRow("typed") << "keyStringEdit"
                               << "typed";
        QTest::newRow("pasted") << "func2StringEdit"
                                << "pasted";
        QTest::newRow("dropped") << "keyStringEdit"
                                 << "dropped";
        QTest::newRow("typed on the grid") << "keyGrid"
                                           << "typed";
        QTest::newRow("MCR line") << "preambleEdit"
                                  << "typed";
    }

    void notLatin1IsRefused() {
        QFETCH(QString, control);
        QFETCH(QString, way);
        InsightFixture f;
        McrCustomDialog& custom = f.windows->customMcr();
        const bool mcr = control == "preambleEdit";
        if (mcr) {
            custom.show();
        }
        QWidget* target =
            child(mcr ? static_cast<QWidget&>(custom) : f.window, qPrintable(control));
        auto* line = qobject_cast<QLineEdit*>(target);
        if (way == "typed") {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, "\u20ac");
            QApplication::sendEvent(target, &press);
        } else if (way == "pasted") {
            QApplication::clipboard()->setText("a\u20ac");
            line->paste();
        } else {
            QMimeData text;
            text.setText("a\u20ac");
            QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction, &text, Qt::LeftButton, {});
            QApplication::sendEvent(target, &enter);
            QDropEvent drop(QPointF(4, 4), Qt::CopyAction, &text, Qt::LeftButton, {});
            QApplication::sendEvent(target, &drop);
        }
        QCOMPARE(line != nullptr ? line->text() : QString(), QString());
        const auto hint = [&] { return mcr ? custom.lineHintText() : f.window.lineHintText(); };
        QCOMPARE(hint(), "\"\u20ac\" is not taken: key strings hold Latin-1 characters only");
        QCOMPARE(f.state.Setup.KeyStrings[1] + f.state.Setup.Func2Strings[1], std::string());
        // The hint stays while typing goes on, until another key is chosen.
        QTest::keyClicks(mcr ? target : child(f.window, "keyStringEdit"), "<enter>");
        QVERIFY(hint().startsWith("\"\u20ac\" is not taken") && hint().contains("<Enter>"));
        if (!mcr) {
            f.window.selectKey(2);
            QCOMPARE(hint(), QString());
        }
        custom.hide();
    }
};

QTEST_MAIN(InsightWindowTest)
#include "insight_window_test.moc"
