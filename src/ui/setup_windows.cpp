#include "ui/setup_windows.h"

#include <QApplication>
#include <QTimer>

#include <iostream>

#include "app/cli.h"
#include "ui/about_window.h"
#include "ui/key_test_window.h"
#include "ui/legend_window.h"
#include "ui/mcr_builtin_dialog.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/progress_window.h"
#include "ui/prompts.h"
#include "ui/roll_out_window.h"
#include "usb/hid_platform_sim.h"
#include "usb/hid_platform_system.h"

namespace qk750 {

SetupWindows::SetupWindows(MainWindowServices services) {
    ProgramState& state = *services.state;
    Prompts& prompts = *services.prompts;
    m_main = std::make_unique<MainWindow>(std::move(services));
    m_about = std::make_unique<AboutWindow>(m_main.get());
    m_keyTest = std::make_unique<KeyTestWindow>(m_main.get());
    m_progress = std::make_unique<ProgressWindow>(m_main.get());
    m_customMcr = std::make_unique<McrCustomDialog>(state, prompts, m_main.get());
    m_builtInMcr = std::make_unique<McrBuiltInDialog>(state, m_customMcr.get());
    m_customMcr->setBuiltInDialog(m_builtInMcr.get());
    m_main->setWindows(m_about.get(), m_progress.get(), m_customMcr.get(), m_builtInMcr.get());
    m_main->setKeyTestWindow(m_keyTest.get());
    m_legends = std::make_unique<LegendWindow>(state, prompts, m_main.get());
    m_main->setLegendWindow(m_legends.get());
    m_rollOut = std::make_unique<RollOutWindow>(m_main.get());
    m_main->setRollOutWindow(m_rollOut.get());
}

SetupWindows::~SetupWindows() {
    m_main->setWindows(nullptr, nullptr, nullptr, nullptr);
    m_main->setKeyTestWindow(nullptr);
    m_main->setLegendWindow(nullptr);
    m_legends.reset();
    m_main->setRollOutWindow(nullptr);
    m_rollOut.reset();
    m_builtInMcr.reset();
    m_customMcr.reset();
    m_progress.reset();
    m_keyTest.reset();
    m_about.reset();
    m_main.reset();
}

int runWindows(ProgramState& state, const CliOptions& options) {
    static int argc = 1;
    static char name[] = "qk750setup";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kProgramTitle));
#ifndef Q_OS_WIN
    // On Windows the windows take the icon of the .exe's resources, as Explorer shows it.
    QApplication::setWindowIcon(QIcon(programPixmap(64)));
#endif

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
        QTimer::singleShot(0, &windows.main(), [&windows] { windows.main().firstActivation(); });
        code = app.exec();
        if (simulated != nullptr && !options.simulateFile.empty()) {
            std::string error;
            if (!simulated->saveMemoryFile(&error)) {
                std::cerr << "qk750setup: " << error << "\n";
                code = 2;
            }
        }
    }
    if (state.BatchMode && !state.ProgrammingOk) {
        return 1;
    }
    return code;
}

}  // namespace qk750
