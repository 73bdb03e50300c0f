#pragma once

// Scripted prompts, waits in no real time, the windows over a simulated keyboard.

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QPrinter>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

#include "setup/program_state.h"
#include "ui/about_window.h"
#include "ui/key_grid.h"
#include "ui/key_test_window.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/prompts.h"
#include "ui/setup_windows.h"
#include "usb/hid_platform_sim.h"
#include "usb/protocol_ports.h"

namespace qk750::test {

template <class T = QWidget>
T* child(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no control %s", name);
    }
    return found;
}

// Records every prompt as (kind, text), a file dialog as ("file", its objectName), and gives
// the scripted answers in order; then questions get defaultAnswer and file dialogs cancel.
class ScriptedPrompts : public Prompts {
public:
    QList<std::pair<QString, QString>> seen;
    QList<bool> answers;
    QList<Answer> choices;  // to Yes/No/Cancel questions; then Cancel
    QStringList fileNames;
    QList<FileDialogRequest> requests;
    bool defaultAnswer = false;
    std::function<void()> onAsk;  // runs while a question is open

    void error(const QString& text) override { seen.append({"error", text}); }
    void information(const QString& text) override { seen.append({"information", text}); }
    bool confirm(const QString& text) override { return ask("confirm", text); }
    bool errorOkCancel(const QString& text) override { return ask("errorOkCancel", text); }
    bool askYesNo(const QString& text) override { return ask("askYesNo", text); }
    Answer askYesNoCancel(const QString& text) override {
        seen.append({"askYesNoCancel", text});
        return choices.isEmpty() ? Answer::Cancel : choices.takeFirst();
    }
    QString fileName(const FileDialogRequest& request) override {
        seen.append({"file", request.objectName});
        requests.append(request);
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
    // Prints into the next scripted file name as PDF; cancels without one.
    bool choosePrinter(QPrinter& printer) override {
        seen.append({"print", printer.docName()});
        if (fileNames.isEmpty()) {
            return false;
        }
        printer.setOutputFileName(fileNames.takeFirst());
        return true;
    }
    QStringList texts(const QString& kind) const {
        QStringList result;
        for (const auto& [seenKind, text] : seen) {
            result << (seenKind == kind ? QStringList{text} : QStringList());
        }
        return result;
    }

private:
    bool ask(const QString& kind, const QString& text) {
        seen.append({kind, text});
        onAsk ? onAsk() : void();
        return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
    }
};

// The protocol's waits in no real time: each processes pending events once.
class VirtualWaits : public ProtocolWaits {
public:
    std::function<void()> onWait;
    void pumpedWait(int, const bool*) override {
        QCoreApplication::processEvents();
        onWait ? onWait() : void();
    }
    void processMessages() override { QCoreApplication::processEvents(); }
};

// Setup files in a folder of their own (the default one is named after the application).
struct WindowFixture {
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/qk750-ui-XXXXXX")};
    ProgramState state;
    ScriptedPrompts prompts;
    VirtualWaits waits;
    HidPlatformSim* sim = nullptr;
    std::unique_ptr<SetupWindows> windows;

    explicit WindowFixture(HidPlatformSim::Options options = {}, std::string setupFile = {}) {
        state.SetupFileName = setupFile.empty() ? path("QK750.INI") : setupFile;
        auto platform = std::make_unique<HidPlatformSim>(std::move(options));
        sim = platform.get();
        windows = std::make_unique<SetupWindows>(
            MainWindowServices{&state, &prompts, std::move(platform), &waits});
    }

    std::string path(const QString& name) const { return (dir.path() + '/' + name).toStdString(); }
    MainWindow& main() const { return windows->main(); }
    void trigger(const char* action) const { child<QAction>(main(), action)->trigger(); }
    void clickCell(int key) const {
        auto* grid = child<QTableWidget>(main(), "keyGrid");
        const QRect cell = grid->visualItemRect(grid->item(keyRow(key), keyColumn(key)));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    }
    // Shows the main window and runs its first activation after the device list is filled.
    void start() {
        QCoreApplication::processEvents();
        main().show();
        QCoreApplication::processEvents();
        main().firstActivation();
    }
};

struct StartedFixture : WindowFixture {
    explicit StartedFixture(HidPlatformSim::Options options = {})
        : WindowFixture(std::move(options)) {
        start();
    }
};

}  // namespace qk750::test
