// The main window's file commands and their flows: New, Open, Save, Save As, Exit.
#include "ui/main_window.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>

#include "app/initial_load.h"
#include "setup/file_names.h"
#include "setup/legacy_import.h"
#include "ui/key_grid.h"
#include "ui/prompts.h"
#include "ui/window_reporter.h"
#include "ui/window_support.h"

namespace qk750 {

namespace {

const QString kOpenFilter =
    QStringLiteral("QK750 INI files |*.ini|OLD QK750 files|*.kbd|KEYS ASCII File|*.dat");

const QString kSaveFilter = QStringLiteral("QK750 INI files |*.ini");

std::string fileNamePart(const std::string& path) {
    return path.substr(fileNameStart(path));
}

}  // namespace

std::string MainWindow::chooseFileName(bool save) {
    FileDialogRequest request;
    request.save = save;
    request.defaultSuffix = QStringLiteral("INI");
    request.objectName = save ? QStringLiteral("saveDialog") : QStringLiteral("openDialog");
    request.initialFile = save ? QStringLiteral("default") : QStringLiteral("default.ini");
    request.filter = save ? kSaveFilter : kOpenFilter;
    request.directory = pathText(DirectoryOf(m_state->SetupFileName));
    return QFile::encodeName(m_prompts->fileName(request)).toStdString();
}

bool MainWindow::saveTo(const std::string& path) {
    m_state->SetupFileName = WithIniExtension(path);
    const SaveResult saved = SaveSetupIni(m_state->Setup, m_state->SetupFileName);
    UpdateTitle();
    if (!saved.ok) {
        // The old file stays as it was.
        m_prompts->error(saveFailedText(m_state->SetupFileName, saved.error));
        return false;
    }
    if (!m_quietSave) {
        m_prompts->information(QStringLiteral(" QK750 Setup was saved in file ") +
                               pathText(fileNamePart(m_state->SetupFileName)));
    }
    return true;
}

bool MainWindow::saveSetup() {
    CollectMcrSettings();
    if (fileNamePart(m_state->SetupFileName) == ".INI") {
        const std::string chosen = chooseFileName(true);
        if (chosen.empty()) {
            return false;
        }
        return saveTo(chosen);
    }
    return saveTo(m_state->SetupFileName);
}

void MainWindow::saveSetupAs() {
    CollectMcrSettings();
    const std::string chosen = chooseFileName(true);
    if (!chosen.empty()) {
        saveTo(chosen);
    }
}

void MainWindow::newSetup() {
    if (fileNamePart(m_state->SetupFileName) != ".INI") {
        m_quietSave = true;
    }
    saveSetup();
    m_quietSave = false;
    m_state->SetupFileName = ".INI";
    UpdateTitle();
    ClearSetup(m_state->Setup);
    LoadSetupIntoDialogs();
}

void MainWindow::reportLoad(const LoadResult& result) {
    if (!result.kbdImport) {
        return;
    }
    if (result.kbdStatus == KbdImportStatus::InvalidSize) {
        m_prompts->error(
            QString::fromLatin1(kInvalidKbdFileSizeText.data(),
                                static_cast<qsizetype>(kInvalidKbdFileSizeText.size())));
    } else if (result.kbdStatus == KbdImportStatus::Ok && !result.save.ok) {
        m_prompts->error(saveFailedText(m_state->SetupFileName, result.save.error));
    }
}

void MainWindow::openSetup() {
    setLineSelector(0);
    const std::string chosen = chooseFileName(false);
    if (chosen.empty()) {
        return;
    }
    m_state->SetupFileName = chosen;
    UpdateTitle();
    ClearSetup(m_state->Setup);
    LoadSetupIntoDialogs();
    reportLoad(LoadSetupFile(*m_state));
    UpdateTitle();
    m_keyGrid->setCurrentCell(0, 0);
    LoadSetupIntoDialogs();
    ShowSelectedKey();
}

void MainWindow::exitWithoutSaving() {
    // Ends the program without the close-time save; a run in progress ends at its next
    // wait, without a report.
    m_exiting = true;
    m_state->Globals.StopWaiting = true;
    m_reporter->setSilent(true);
    close();
    QCoreApplication::exit(0);
}

}  // namespace qk750
