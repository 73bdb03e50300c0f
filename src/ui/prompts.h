#pragma once

#include <QString>

#include <string>

class QPrinter;
class QWidget;

namespace qk750 {

// What a file dialog is asked to look like. The filter is kept in the program's own
// "caption|pattern|caption|pattern" form and converted by the adapter.
struct FileDialogRequest {
    QString objectName;  // "openDialog", "saveDialog"
    QString defaultSuffix;
    QString initialFile;
    QString directory;
    QString filter;
    // An open dialog wants an existing file. A save dialog does not ask before replacing
    // one: the caller asks about the file it will really write.
    bool save = false;
};

// Every message box and file dialog of the windows goes through this, so that tests can
// answer them. Texts keep the program's carriage returns.
class Prompts {
public:
    virtual ~Prompts() = default;
    // Error box, button OK.
    virtual void error(const QString& text) = 0;
    // Information box, button OK.
    virtual void information(const QString& text) = 0;
    // Confirmation, buttons Yes and Cancel; true only for Yes.
    virtual bool confirm(const QString& text) = 0;
    // Error box with buttons OK and Cancel; true only for OK.
    virtual bool errorOkCancel(const QString& text) = 0;
    // Question with buttons Yes and No, No the default: Enter alone never says Yes.
    virtual bool askYesNo(const QString& text) = 0;
    // Question with buttons Yes, No and Cancel, Yes the default; Esc answers Cancel.
    enum class Answer { Yes, No, Cancel };
    virtual Answer askYesNoCancel(const QString& text) = 0;
    // The chosen path, or an empty string when cancelled.
    virtual QString fileName(const FileDialogRequest& request) = 0;
    // The platform's print dialog, set up from the printer and setting it; false when
    // cancelled.
    virtual bool choosePrinter(QPrinter& printer) = 0;
};

// "QK750 INI files |*.ini|OLD QK750 files|*.kbd" -> "QK750 INI files (*.ini *.INI);;...".
// Upper-case twins of the patterns are added, since file names here differ by case.
QString dialogFilter(const QString& pipeFilter);

// Message text for display: each carriage return (with a following line feed, if any)
// becomes one line break.
QString displayText(const QString& text);

// The error text of a setup file that could not be saved: the path, then the system's
// words for why.
QString saveFailedText(const std::string& path, const std::string& systemError);

// The same for a file that could not be read.
QString readFailedText(const std::string& path, const std::string& systemError);

// The production prompts: QMessageBox and QFileDialog over the given parent.
class QtPrompts : public Prompts {
public:
    explicit QtPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    void error(const QString& text) override;
    void information(const QString& text) override;
    bool confirm(const QString& text) override;
    bool errorOkCancel(const QString& text) override;
    bool askYesNo(const QString& text) override;
    Answer askYesNoCancel(const QString& text) override;
    QString fileName(const FileDialogRequest& request) override;
    bool choosePrinter(QPrinter& printer) override;

private:
    QWidget* m_parent;
};

}  // namespace qk750
