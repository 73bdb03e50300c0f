// The main window's commands that run other windows: the MCR dialogs, the About box, the
// key test window, the legend window and programming with its progress window.
#include <QEventLoopLocker>
#include <QPlainTextEdit>

#include "app/programming_run.h"
#include "ui/about_window.h"
#include "ui/key_test_window.h"
#include "ui/legend_window.h"
#include "ui/main_window.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/prompts.h"
#include "ui/window_reporter.h"
#include "ui/window_support.h"

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
    m_run->StartProgramming();
    if (m_reporter->progressShown()) {
        // The main window is active again after the progress window.
        everyActivation();
    }
}

bool MainWindow::ProgrammingBusy() const {
    return m_run->ProgrammingBusy();
}

}  // namespace qk750
