#include "ui/setup_windows.h"

#include <QApplication>
#include <QTimer>

#include <iostream>

#include "app/cli.h"
#include "ui/CustomMCR.h"
#include "ui/FixedMCR.h"
#include "ui/ZQ_setup_about_u.h"
#include "ui/prompts.h"
#include "ui/status.h"
#include "ui/tstkeys.h"
#include "usb/hid_platform_sim.h"
#include "usb/hid_platform_system.h"

namespace qk750 {

SetupWindows::SetupWindows(MainWindowServices services) {
    ProgramState& state = *services.state;
    Prompts& prompts = *services.prompts;
    m_main = std::make_unique<TfrmSettings>(std::move(services));
    m_about = std::make_unique<TfrmAbout>(m_main.get());
    m_testKeys = std::make_unique<TformTestKeys>(m_main.get());
    m_status = std::make_unique<TStatusForm>(m_main.get());
    m_customMcr = std::make_unique<TMCRCustomForm>(state, prompts, m_main.get());
    m_builtInMcr = std::make_unique<TFixedMcrSetupForm>(state, m_main.get());
    m_customMcr->setBuiltInDialog(m_builtInMcr.get());
    m_main->setWindows(m_about.get(), m_status.get(), m_customMcr.get(), m_builtInMcr.get());
    m_main->setTestKeysWindow(m_testKeys.get());
}

SetupWindows::~SetupWindows() {
    m_main->setWindows(nullptr, nullptr, nullptr, nullptr);
    m_main->setTestKeysWindow(nullptr);
    m_builtInMcr.reset();
    m_customMcr.reset();
    m_status.reset();
    m_testKeys.reset();
    m_about.reset();
    m_main.reset();
}

int runWindows(ProgramState& state, const CliOptions& options) {
    static int argc = 1;
    static char name[] = "qk750setup";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kProgramTitle));
    QApplication::setWindowIcon(QIcon(programPixmap(64)));

    HidPlatformSim* simulated = nullptr;
    std::unique_ptr<HidPlatform> platform;
    if (options.simulate) {
        std::string error;
        std::unique_ptr<HidPlatformSim> sim =
            CreateSimulatedHidPlatform(options.simulateFile, &error);
        if (!sim) {
            std::cerr << "qk750setup: " << error << "\n";
            return 2;
        }
        simulated = sim.get();
        platform = std::move(sim);
    } else {
        platform = CreateSystemHidPlatform();
    }

    QtPrompts prompts;
    MainWindowServices services;
    services.state = &state;
    services.prompts = &prompts;
    services.platform = std::move(platform);
    services.trace = options.trace;
    int code = 0;
    {
        SetupWindows windows(std::move(services));
        prompts.setParent(&windows.main());
        windows.main().show();
        windows.main().activateWindow();
        // Without a window manager nothing activates the window: the first activation's
        // work must not wait for it.
        QTimer::singleShot(0, &windows.main(), [&windows] { windows.main().FormActivate(); });
        code = app.exec();
        if (simulated != nullptr && !options.simulateFile.empty()) {
            std::string error;
            if (!simulated->saveMemoryFile(&error)) {
                std::cerr << "qk750setup: " << error << "\n";
            }
        }
    }
    if (state.BatchMode && !state.ProgrammingOk) {
        return 1;
    }
    return code;
}

}  // namespace qk750
