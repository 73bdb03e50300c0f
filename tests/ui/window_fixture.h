#pragma once

// What the window tests share: scripted prompts, a virtual clock for the protocol's waits,
// and the program's windows over the simulated keyboard.

#include <QCoreApplication>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "setup/program_state.h"
#include "ui/prompts.h"
#include "ui/setup_windows.h"
#include "usb/hid_platform_sim.h"
#include "usb/protocol_ports.h"

namespace qk750::test {

struct PromptRecord {
    QString kind;  // "error", "information", "confirm", "errorOkCancel", "file"
    QString text;  // the message, or the dialog's objectName
};

// Records every prompt and gives the scripted answers in order; when the script runs out,
// questions get defaultAnswer and file dialogs are cancelled.
class ScriptedPrompts : public Prompts {
public:
    QList<PromptRecord> seen;
    QList<bool> answers;
    QStringList fileNames;
    QList<FileDialogRequest> fileRequests;
    bool defaultAnswer = false;

    void error(const QString& text) override { seen.append({QStringLiteral("error"), text}); }
    void information(const QString& text) override {
        seen.append({QStringLiteral("information"), text});
    }
    bool confirm(const QString& text) override {
        seen.append({QStringLiteral("confirm"), text});
        return answer();
    }
    bool errorOkCancel(const QString& text) override {
        seen.append({QStringLiteral("errorOkCancel"), text});
        return answer();
    }
    QString fileName(const FileDialogRequest& request) override {
        seen.append({QStringLiteral("file"), request.objectName});
        fileRequests.append(request);
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }

    QStringList texts(const QString& kind) const {
        QStringList result;
        for (const PromptRecord& record : seen) {
            if (record.kind == kind) {
                result << record.text;
            }
        }
        return result;
    }

private:
    bool answer() { return answers.isEmpty() ? defaultAnswer : answers.takeFirst(); }
};

// The protocol's waits on a virtual clock: each wait processes pending events once and
// advances the clock, so a whole programming run takes no real time.
class VirtualWaits : public ProtocolWaits {
public:
    long long elapsedMs = 0;
    int waits = 0;
    std::function<void()> onWait;

    void pumpedWait(int ms, const bool* stop) override {
        QCoreApplication::processEvents();
        ++waits;
        if (onWait) {
            onWait();
        }
        if (stop == nullptr || !*stop) {
            elapsedMs += ms;
        }
    }
    void processMessages() override { QCoreApplication::processEvents(); }
};

// The program's windows over a simulated keyboard, with setup files in a temporary folder.
struct WindowFixture {
    // The main window's title, a path, becomes the application name, and QTemporaryDir
    // builds its default folder name from that: without this, every fixture after the
    // first gets no folder and its setup file lands in "/".
    bool applicationNameReset = [] {
        QCoreApplication::setApplicationName(QStringLiteral("qk750-ui-test"));
        return true;
    }();
    QTemporaryDir dir;
    ProgramState state;
    ScriptedPrompts prompts;
    VirtualWaits waits;
    HidPlatformSim* sim = nullptr;
    std::unique_ptr<SetupWindows> windows;

    explicit WindowFixture(const std::string& setupFileName = {},
                           HidPlatformSim::Options options = {}) {
        state.SetupFileName = setupFileName.empty() ? path("QK750.INI") : setupFileName;
        auto platform = std::make_unique<HidPlatformSim>(std::move(options));
        sim = platform.get();
        MainWindowServices services;
        services.state = &state;
        services.prompts = &prompts;
        services.platform = std::move(platform);
        services.waits = &waits;
        windows = std::make_unique<SetupWindows>(std::move(services));
    }

    std::string path(const char* name) const {
        return (dir.path() + QLatin1Char('/') + QLatin1String(name)).toStdString();
    }

    TfrmSettings& main() const { return windows->main(); }

    // Shows the main window and runs its first activation after the device list is filled.
    void start() {
        QCoreApplication::processEvents();
        main().show();
        QCoreApplication::processEvents();
        main().FormActivate();
    }
};

}  // namespace qk750::test
