#include "ui/prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QStringList>

#include "ui/window_support.h"

namespace qk750 {

QString dialogFilter(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString trimmed = pattern.trimmed();
            patterns << trimmed;
            if (trimmed.toUpper() != trimmed) {
                patterns << trimmed.toUpper();
            }
        }
        filters << parts[i].trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

QString saveFailedText(const std::string& path, const std::string& systemError) {
    return QStringLiteral("Cannot save ") + pathText(path) + QStringLiteral("\r\r") +
           QString::fromLocal8Bit(systemError);
}

QString readFailedText(const std::string& path, const std::string& systemError) {
    return QStringLiteral("Cannot read ") + pathText(path) + QStringLiteral("\r\r") +
           QString::fromLocal8Bit(systemError);
}

QString displayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

namespace {

// A box or dialog belongs over the window of ours that is in front (an MCR dialog saving,
// the key test window): over the main window behind it, it would take the main window
// to the front with it. The progress window has nothing to do with boxes.
QWidget* ownerOf(QWidget* fallback) {
    QWidget* active = QApplication::activeWindow();
    if (active != nullptr && active->isVisible() && active->windowType() != Qt::Tool) {
        return active;
    }
    // A box over a disabled window would be disabled with it.
    return fallback != nullptr && fallback->isEnabled() ? fallback : nullptr;
}

QMessageBox::StandardButton showBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, QApplication::applicationName(), displayText(text), buttons,
                    ownerOf(parent));
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void QtPrompts::error(const QString& text) {
    showBox(m_parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtPrompts::information(const QString& text) {
    showBox(m_parent, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtPrompts::confirm(const QString& text) {
    return showBox(m_parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::Cancel,
                   QMessageBox::Yes) == QMessageBox::Yes;
}

bool QtPrompts::errorOkCancel(const QString& text) {
    return showBox(m_parent, QMessageBox::Critical, text, QMessageBox::Ok | QMessageBox::Cancel,
                   QMessageBox::Ok) == QMessageBox::Ok;
}

bool QtPrompts::askYesNo(const QString& text) {
    return showBox(m_parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::No) == QMessageBox::Yes;
}

Prompts::Answer QtPrompts::askYesNoCancel(const QString& text) {
    switch (showBox(m_parent, QMessageBox::Question, text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes)) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        default:
            return Answer::Cancel;
    }
}

QString QtPrompts::fileName(const FileDialogRequest& request) {
    QFileDialog dialog(ownerOf(m_parent));
    dialog.setObjectName(request.objectName);
    dialog.setNameFilter(dialogFilter(request.filter));
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!request.directory.isEmpty()) {
        dialog.setDirectory(request.directory);
    }
    dialog.selectFile(request.initialFile);
    if (request.save) {
#ifdef _WIN32
        // Windows' own Save dialog, as Qt drives it, appends the filter's extension to a
        // typed one ("new one.txt" became "new one.txt.ini"); Qt's own appends none, and
        // the program replaces the extension itself.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
#endif
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

bool QtPrompts::choosePrinter(QPrinter& printer) {
    QPrintDialog dialog(&printer, ownerOf(m_parent));
    dialog.setObjectName(QStringLiteral("printDialog"));
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace qk750
