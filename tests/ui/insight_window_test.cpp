#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QtTest>

#include "ui/mcr_custom_dialog.h"
#include "window_fixture.h"

using namespace qk750;
using namespace qk750::test;

// Key strings hold 8-bit text: a character outside Latin-1 is not taken, however it comes.
class InsightWindowTest : public QObject {
    Q_OBJECT

private slots:
    void notLatin1IsRefused() {
        const std::pair<const char*, const char*> cases[] = {{"keyStringEdit", "typed"},
                                                             {"func2StringEdit", "pasted"},
                                                             {"keyStringEdit", "dropped"},
                                                             {"keyGrid", "typed"},
                                                             {"preambleEdit", "typed"}};
        for (const auto& [control, way] : cases) {
            StartedFixture f;
            f.state.Setup.Mcr.McrSetupMode = 0;  // no built-in mode: the MCR lines are editable
            f.main().LoadSetupIntoDialogs();
            McrCustomDialog& custom = f.windows->customMcr();
            const bool mcr = QString(control) == "preambleEdit";
            custom.setVisible(mcr);
            QWidget* target = child(mcr ? static_cast<QWidget&>(custom) : f.main(), control);
            auto* line = qobject_cast<QLineEdit*>(target);
            if (QString(way) == "typed") {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, "\u20ac");
                QApplication::sendEvent(target, &press);
            } else if (QString(way) == "pasted") {
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
            const auto hint = [&] { return mcr ? custom.lineHintText() : f.main().lineHintText(); };
            QCOMPARE(hint(), "\"\u20ac\" is not taken: key strings hold Latin-1 characters only");
            QCOMPARE(f.state.Setup.KeyStrings[1] + f.state.Setup.Func2Strings[1], std::string());
            // The hint stays while typing goes on, until another key is chosen.
            QTest::keyClicks(mcr ? target : child(f.main(), "keyStringEdit"), "<enter>");
            QVERIFY(hint().startsWith("\"\u20ac\" is not taken") && hint().contains("<Enter>"));
            if (!mcr) {
                f.main().selectKey(2);
                QCOMPARE(hint(), QString());
            }
            custom.hide();
        }
    }
};

QTEST_MAIN(InsightWindowTest)
#include "insight_window_test.moc"
