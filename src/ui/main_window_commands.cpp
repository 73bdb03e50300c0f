// The main window's commands that run other windows: the MCR dialogs, the About box, the
// key test window, the legend window, the roll-out window and programming with its
// progress window.
#include <QAction>
#include <QApplication>
#include <QEventLoopLocker>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>

#include <optional>

#include "app/programming_run.h"
#include "app/qt_event_loop.h"
#include "app/roll_out.h"
#include "ui/about_window.h"
#include "ui/key_grid.h"
#include "ui/key_test_window.h"
#include "ui/legend_window.h"
#include "ui/main_window.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/prompts.h"
#include "ui/roll_out_window.h"
#include "ui/window_reporter.h"
#include "ui/window_support.h"
#include "usb/hid_platform_sim.h"

namespace qk750 {

// An owned window shown while a run is in progress would hold the run up until it is
// closed (its wait runs inside the run's): the commands that open one are ignored then.
void MainWindow::showMcrSetup() {
    if (m_customMcr == nullptr || ProgrammingBusy()) {
        return;
    }
    m_state->Globals.EditTarget = kEditPreamble;
    showOwned(this, m_customMcr);
    m_state->Globals.EditTarget = kEditKeyLines;
    everyActivation();
}

void MainWindow::showAbout() {
    if (m_about == nullptr || ProgrammingBusy()) {
        return;
    }
    showOwned(this, m_about);
    everyActivation();
}

void MainWindow::showLegends() {
    if (m_legends == nullptr || ProgrammingBusy()) {
        return;
    }
    m_legends->refresh();
    showOwned(this, m_legends);
    everyActivation();
}

void MainWindow::testKeys() {
    if (m_keyTest == nullptr || ProgrammingBusy()) {
        return;
    }
    m_keyTest->keyLog()->clear();
    showOwned(this, m_keyTest, [this] {
        if (!m_keyTest->installHook()) {
            // The window stays open and can be closed as usual.
            m_prompts->error(QStringLiteral("Error To Hook"));
        }
    });
    everyActivation();
}

void MainWindow::StartProgramming() {
    if (ProgrammingBusy()) {
        m_run->StartProgramming();  // ignored, as the run says
        return;
    }
    // Closing the window during the run must not end the program before the run has
    // ended and reported; once both are done, the program ends (the window is gone).
    const QEventLoopLocker keepRunning;
    m_reporter->clearProgressShown();
    // The setup shown is the setup being programmed: until the run ends nothing edits or
    // replaces it, so that its report never speaks of a setup no longer in the window.
    const QPointer<QWidget> focused = focusWidget();
    m_focusGridAfterRun = false;
    takeEditsDuringRun(false);
    m_run->StartProgramming();
    takeEditsDuringRun(true);
    if (m_focusGridAfterRun) {
        m_keyGrid->setFocus();
    } else if (focused && focused->isEnabled()) {
        focused->setFocus(Qt::ActiveWindowFocusReason);
    }
    if (m_reporter->progressShown()) {
        // The main window is active again after the progress window.
        everyActivation();
    }
}

void MainWindow::setRollOutWindow(RollOutWindow* window) {
    m_rollOut = window;
    if (m_rollOut != nullptr) {
        connect(m_rollOut, &RollOutWindow::stopRequested, this,
                [this] { m_state->Globals.StopWaiting = true; });
    }
}

void MainWindow::rollOut() {
    if (m_rollOut == nullptr || ProgrammingBusy() || m_rollOut->isVisible()) {
        return;
    }
    // The log names the setup file, which is to hold what is programmed.
    m_quietSave = true;
    const SaveOutcome saved = saveSetupFlow();
    m_quietSave = false;
    if (saved != SaveOutcome::Saved) {
        return;
    }
    RollOutWindow& window = *m_rollOut;
    ProgrammingHooks hooks;
    hooks.collectMcrSettings = [this] { CollectMcrSettings(); };
    hooks.selectKey = [this](int key) { selectKey(key); };
    hooks.focusGrid = [this] { m_keyGrid->setFocus(); };
    int programmed = 0;
    int failed = 0;
    RollOutEvents events;
    events.waitingForKeyboard = [&window](int) { window.showWaiting(); };
    events.programming = [&window](int number) { window.showProgramming(number); };
    events.reported = [&](const KeyboardOutcome& outcome, bool) {
        ++(outcome.ok() ? programmed : failed);
        window.showOutcome(outcome, programmed, failed);
        PlayOutcomeSound(&window, outcome.ok(), [] { QApplication::beep(); });
    };
    // The simulated keyboard stands in for each new keyboard and for the operator.
    std::optional<SimulatedStation> station;
    if (auto* simulation = dynamic_cast<HidPlatformSim*>(m_platform.get())) {
        station.emplace(*simulation, simulation->memoryFile(),
                        [this](const std::string& error) { m_prompts->error(latin1(error)); });
        events = combine(station->events(), std::move(events));
    }
    RollOut rollOut(*m_state, *m_devices, *m_waits, *m_reporter, window.progress(), hooks,
                    std::move(events));
    // A setup that does not compile is reported here, over the main window.
    if (!rollOut.setupCompiles()) {
        return;
    }
    // Closing the main window ends the roll-out; the program ends once it has.
    const QEventLoopLocker keepRunning;
    window.begin(pathText(m_state->SetupFileName));
    showOwned(this, &window, [&] {
        const RollOutResult result = rollOut.run(0);
        // A Stop ends the roll-out only; a close goes on to end the program.
        if (!m_closing) {
            m_state->Globals.StopWaiting = false;
        }
        window.hide();
        if (!result.logError.empty()) {
            m_prompts->error(QStringLiteral("Cannot write the roll-out log ") +
                             latin1(result.logError));
        }
    });
    everyActivation();
}

void MainWindow::takeEditsDuringRun(bool take) {
    // The client area as a whole: its controls keep their own state (the lock's), and the
    // focus leaves the grid without passing through the lines (each would take the line
    // selector with it).
    m_clientArea->setEnabled(take);
    for (QAction* action : std::as_const(m_fileCommandsTaken)) {
        if (action != nullptr) {
            action->setEnabled(true);
        }
    }
    m_fileCommandsTaken.clear();
    const auto* file = menuBar()->findChild<QMenu*>(QStringLiteral("fileMenu"));
    if (take || file == nullptr) {
        return;
    }
    // E&xit stays: it ends the run and the program at once.
    for (QAction* action : file->actions()) {
        if (action->isEnabled() && !action->isSeparator() &&
            action->objectName() != QStringLiteral("exitAction")) {
            action->setEnabled(false);
            m_fileCommandsTaken << action;
        }
    }
}

bool MainWindow::ProgrammingBusy() const {
    return m_run->ProgrammingBusy();
}

}  // namespace qk750
