// The main window's insight display: the memory meter in the status bar and the hint
// under the key-string lines.
#include "ui/main_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include <algorithm>

#include "app/key_text.h"
#include "ui/key_grid.h"
#include "ui/mcr_custom_dialog.h"
#include "ui/window_support.h"

namespace qk750 {

QString MainWindow::memoryMeterLabel() const {
    return m_memoryMeterLabel->text();
}

QString MainWindow::lineHintText() const {
    // The label may be cut to its width; its tooltip holds the whole text.
    return m_lineHintLabel->toolTip();
}

void MainWindow::updateMemoryMeter() {
    if (m_memoryMeter == nullptr) {
        return;
    }
    // The MCR lines count as the next run will gather them; the record stays as it is.
    SetupRecord gathered = m_state->Setup;
    if (m_customMcr != nullptr) {
        m_customMcr->gatherSettings(gathered.Mcr);
    }
    m_memoryUse = computeMemoryUse(gathered);
    const ImageResult& result = m_memoryUse.result;
    const bool keyOverflows = result.error == ImageError::MemoryFull && result.key <= kKeyCount;
    m_keyGrid->setMemoryFullKey(keyOverflows ? result.key : 0);
    QString text = latin1(memoryMeterText(m_memoryUse));
    const std::string failure = imageFailureText(m_memoryUse.result);
    if (!failure.empty()) {
        text += QStringLiteral(": ") + latin1(failure);
    }
    m_memoryMeterLabel->setText(text);
    m_memoryMeter->setValue(std::min(m_memoryUse.used, m_memoryMeter->maximum()));

    QColor colour;
    if (m_memoryUse.level == MemoryLevel::Error) {
        colour = kErrorColour;
    } else if (m_memoryUse.level == MemoryLevel::Warning) {
        colour = kWarningColour;
    }
    QPalette labelPalette = palette();
    QPalette barPalette = palette();
    if (colour.isValid()) {
        labelPalette.setColor(QPalette::WindowText, colour);
        barPalette.setColor(QPalette::Highlight, colour);
    }
    m_memoryMeterLabel->setPalette(labelPalette);
    m_memoryMeter->setPalette(barPalette);
}

void MainWindow::updateLineHint() {
    const QLineEdit* line = lineSelector() == 1 ? m_func2StringEdit : m_keyStringEdit;
    QStringList texts;
    for (const NameHint& hint : unknownNames(keyStringBytes(line->text()))) {
        texts << keyText(hint.text);
    }
    if (!m_refusedHint.isEmpty()) {
        texts.prepend(m_refusedHint);
    }
    showHint(m_lineHintLabel, texts.join(QStringLiteral("   ")));
}

void MainWindow::showRefused(const QString& character) {
    m_refusedHint = refusedCharacterHint(character);
    updateLineHint();
}

}  // namespace qk750
