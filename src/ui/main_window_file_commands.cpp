// The main window's file commands and their flows: New, Open, Save, Save As, Exit.
#include "ui/main_window.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>

#include "app/command_line.h"
#include "app/initial_load.h"
#include "app/load_report.h"
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

QString folderOf(const std::string& path) {
    return QFileInfo(pathText(path)).absolutePath();
}

}  // namespace

void MainWindow::rememberSetupFolder() {
    const std::string& name = m_state->SetupFileName;
    // The program's own default setup says nothing about where the user keeps setups.
    if (fileNamePart(name) != ".INI" && name != defaultSetupFileName()) {
        m_lastFolder = folderOf(name);
    }
}

QString MainWindow::dialogFolder() const {
    if (fileNamePart(m_state->SetupFileName) != ".INI") {
        return folderOf(m_state->SetupFileName);
    }
    return !m_lastFolder.isEmpty()
               ? m_lastFolder
               : QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

std::string MainWindow::chooseFileName(bool save) {
    FileDialogRequest request;
    request.save = save;
    // A save dialog appends no extension of its own: the program replaces it by ".INI"
    // (Windows' dialog would make "new one.txt" "new one.txt.ini").
    request.defaultSuffix = save ? QString() : QStringLiteral("INI");
    request.objectName = save ? QStringLiteral("saveDialog") : QStringLiteral("openDialog");
    request.initialFile = save ? QStringLiteral("default") : QStringLiteral("default.ini");
    request.filter = save ? kSaveFilter : kOpenFilter;
    request.directory = dialogFolder();
    for (;;) {
        const QString answer = m_prompts->fileName(request);
        const std::string chosen = answer.isEmpty() ? std::string() : pathFromText(answer);
        if (!chosen.empty()) {
            m_lastFolder = folderOf(chosen);
        }
        if (!save || chosen.empty()) {
            return chosen;
        }
        // The question is about the file the save writes, which may not be the one chosen.
        const std::string target = WithIniExtension(chosen);
        if (!QFileInfo::exists(pathText(target)) ||
            m_prompts->askYesNo(pathText(fileNamePart(target)) +
                                QStringLiteral(" already exists.\rDo you want to replace it?"))) {
            return chosen;
        }
        request.initialFile = pathText(fileNamePart(chosen));
    }
}

SaveOutcome MainWindow::saveTo(const std::string& path, QString* failure) {
    m_state->SetupFileName = WithIniExtension(path);
    const SaveResult saved = SaveSetupIni(m_state->Setup, m_state->SetupFileName);
    UpdateTitle();
    if (!saved.ok) {
        // The old file stays as it was.
        const QString text = saveFailedText(m_state->SetupFileName, saved.error);
        if (failure != nullptr) {
            *failure = text;
        } else {
            m_prompts->error(text);
        }
        return SaveOutcome::Failed;
    }
    m_twinToConfirm.clear();
    if (!m_quietSave) {
        m_prompts->information(QStringLiteral(" QK750 Setup was saved in file ") +
                               pathText(fileNamePart(m_state->SetupFileName)));
    }
    return SaveOutcome::Saved;
}

void MainWindow::keepTwinUnasked(const LoadResult& loaded) {
    m_twinToConfirm = loaded.twinExisted ? m_state->SetupFileName : std::string();
}

bool MainWindow::mayReplaceTwin() {
    if (m_twinToConfirm.empty() || m_twinToConfirm != m_state->SetupFileName) {
        return true;
    }
    if (!m_prompts->askYesNo(pathText(fileNamePart(m_twinToConfirm)) +
                             QStringLiteral(" already exists. Replace it?"))) {
        return false;
    }
    m_twinToConfirm.clear();
    return true;
}

SaveOutcome MainWindow::saveSetupFlow(QString* failure) {
    CollectMcrSettings();
    if (fileNamePart(m_state->SetupFileName) == ".INI" || !mayReplaceTwin()) {
        const std::string chosen = chooseFileName(true);
        if (chosen.empty()) {
            return SaveOutcome::Cancelled;
        }
        return saveTo(chosen, failure);
    }
    return saveTo(m_state->SetupFileName, failure);
}

bool MainWindow::saveSetup() {
    return saveSetupFlow() == SaveOutcome::Saved;
}

void MainWindow::saveSetupAs() {
    CollectMcrSettings();
    const std::string chosen = chooseFileName(true);
    if (!chosen.empty()) {
        saveTo(chosen, nullptr);
    }
}

void MainWindow::newSetup() {
    if (fileNamePart(m_state->SetupFileName) != ".INI") {
        m_quietSave = true;
    }
    const SaveOutcome saved = saveSetupFlow();
    m_quietSave = false;
    if (saved == SaveOutcome::Failed) {
        // The box has said why; clearing now would lose the work that could not be saved.
        return;
    }
    m_state->SetupFileName = ".INI";
    UpdateTitle();
    ClearSetup(m_state->Setup);
    LoadSetupIntoDialogs();
}

void MainWindow::reportLoad(const LoadResult& result) {
    const LoadReport report = describeLoad(result, m_state->SetupFileName);
    if (report.unnamed) {
        m_state->SetupFileName = ".INI";
        UpdateTitle();
    }
    for (const LoadProblem& problem : report.problems) {
        switch (problem.kind) {
            case LoadProblem::Kind::InvalidKbdSize:
                m_prompts->error(latin1(kInvalidKbdFileSizeText));
                break;
            case LoadProblem::Kind::ReadFailed:
                m_prompts->error(readFailedText(problem.path, problem.reason));
                break;
            case LoadProblem::Kind::SaveFailed:
                m_prompts->error(saveFailedText(problem.path, problem.reason));
                break;
        }
    }
}

bool MainWindow::saveBeforeOpen() {
    m_quietSave = true;
    QString failure;
    const SaveOutcome saved = saveSetupFlow(&failure);
    m_quietSave = false;
    if (saved == SaveOutcome::Failed) {
        // Work that could not be saved stays.
        m_prompts->error(failure + QStringLiteral("\r\rNothing was opened."));
    }
    return saved == SaveOutcome::Saved;
}

void MainWindow::openSetup() {
    setLineSelector(0);
    // The setup is saved first, as closing saves it; an unnamed one is not thrown away
    // unasked, nor saved under a name the operator was not told why to give.
    const bool unnamed = fileNamePart(m_state->SetupFileName) == ".INI";
    if (unnamed) {
        CollectMcrSettings();
        const Prompts::Answer answer = HoldsText(m_state->Setup)
                                           ? m_prompts->askYesNoCancel(QStringLiteral(
                                                 "The setup has not been saved.\r\rSave it before "
                                                 "opening another one ?"))
                                           : Prompts::Answer::No;
        if (answer == Prompts::Answer::Cancel ||
            (answer == Prompts::Answer::Yes && !saveBeforeOpen())) {
            return;
        }
    }
    const std::string chosen = chooseFileName(false);
    if (chosen.empty() || (!unnamed && !saveBeforeOpen())) {
        return;
    }
    ProgramState& state = *m_state;
    const SetupRecord previous = state.Setup;
    const std::string previousName = state.SetupFileName;
    const std::string previousDat = state.DatImportPath;
    state.SetupFileName = chosen;
    ClearSetup(state.Setup);
    const LoadResult loaded = LoadSetupFile(state, ExistingTwin::Keep);
    if (HasExtension(chosen, ".DAT") && loaded.unreadable) {
        // A key list that cannot be read replaces nothing.
        state.Setup = previous;
        state.SetupFileName = previousName;
        state.DatImportPath = previousDat;
        m_prompts->error(readFailedText(loaded.unreadable->path, loaded.unreadable->reason));
        return;
    }
    keepTwinUnasked(loaded);
    // Shown once, whole: an unlock question comes with the new keys on the grid.
    UpdateTitle();
    m_keyGrid->setCurrentCell(0, 0);
    LoadSetupIntoDialogs();
    ShowSelectedKey();
    reportLoad(loaded);
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
