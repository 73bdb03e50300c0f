#include "ui/roll_out_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>

#include "app/roll_out.h"
#include "ui/window_support.h"

namespace qk750 {

namespace {

const QColor kOkColour(0x00, 0x80, 0x00);

QLabel* label(QWidget* parent, const char* name, int y, int height, int pointSize) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(16, y, 488, height);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSize(pointSize);
    label->setFont(font);
    return label;
}

}  // namespace

// The keyboard's progress on the window's bar. The bar is drawn when the run next waits,
// as the progress window's is: drawn between two requests, it would lengthen the run.
class RollOutWindow::Progress : public ProtocolReporter {
public:
    explicit Progress(QProgressBar* bar) : m_bar(bar) {}

    void failure(std::string_view, std::string_view, std::string_view) override {}
    bool askToConnect(std::string_view) override { return false; }
    void progressStart(int maximum) override {
        m_bar->setRange(0, maximum);
        progressStep(1, maximum);
    }
    void progressStep(int position, int) override {
        m_position = position;
        if (!m_posted) {
            m_posted = true;
            QMetaObject::invokeMethod(
                m_bar,
                [this] {
                    m_posted = false;
                    m_bar->setValue(std::clamp(m_position, m_bar->minimum(), m_bar->maximum()));
                },
                Qt::QueuedConnection);
        }
    }
    void progressHide() override {}

private:
    QProgressBar* m_bar;
    int m_position = 0;
    bool m_posted = false;
};

RollOutWindow::RollOutWindow(QWidget* owner)
    // A dialog, so that the window manager keeps it above the main window it belongs to.
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      m_owner(owner) {
    setObjectName(QStringLiteral("rollOutWindow"));
    setWindowTitle(QStringLiteral("Roll Out to Each Keyboard Plugged In"));
    setFixedSize(520, 300);

    m_setupLabel = label(this, "setupLabel", 12, 40, 9);
    m_programmedLabel = label(this, "programmedLabel", 56, 24, 11);
    m_failedLabel = label(this, "failedLabel", 56, 24, 11);
    m_failedLabel->setGeometry(260, 56, 244, 24);
    m_outcomeLabel = label(this, "outcomeLabel", 88, 92, 18);
    m_nextLabel = label(this, "nextLabel", 184, 28, 12);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setGeometry(16, 218, 488, 19);
    m_progressBar->setTextVisible(false);

    // Stop takes no focus and is not a default button: a keyboard just programmed may be
    // typing into this window, and its Enter or Space must not end the roll-out.
    m_stopButton = new QPushButton(QStringLiteral("&Stop"), this);
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setGeometry(200, 252, 120, 32);
    m_stopButton->setFocusPolicy(Qt::NoFocus);
    m_stopButton->setAutoDefault(false);
    connect(m_stopButton, &QPushButton::clicked, this, &RollOutWindow::stopRequested);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &RollOutWindow::stopRequested);

    m_progress = std::make_unique<Progress>(m_progressBar);
}

RollOutWindow::~RollOutWindow() = default;

void RollOutWindow::begin(const QString& setupName) {
    m_setupLabel->setText(QStringLiteral("Setup: ") + setupName);
    m_programmedLabel->setText(QStringLiteral("Programmed: 0"));
    m_failedLabel->setText(QStringLiteral("Failed: 0"));
    m_outcomeLabel->clear();
    m_nextLabel->clear();
    m_progressBar->setRange(0, 1);
    m_progressBar->setValue(0);
}

void RollOutWindow::showWaiting() {
    m_nextLabel->setText(QString::fromLatin1(kPlugInNextText));
}

void RollOutWindow::showProgramming(int number) {
    m_nextLabel->setText(QStringLiteral("Programming keyboard %1...").arg(number));
    m_progressBar->setValue(0);
}

void RollOutWindow::showOutcome(const KeyboardOutcome& outcome, int programmed, int failed) {
    m_programmedLabel->setText(QStringLiteral("Programmed: %1").arg(programmed));
    m_failedLabel->setText(QStringLiteral("Failed: %1").arg(failed));
    const QString text = QStringLiteral("Keyboard %1: ").arg(outcome.number);
    m_outcomeLabel->setText(outcome.ok() ? text + QStringLiteral("OK")
                                         : text + latin1(OneLine(outcome.message)));
    QPalette palette = m_outcomeLabel->palette();
    palette.setColor(QPalette::WindowText, outcome.ok() ? kOkColour : kErrorColour);
    m_outcomeLabel->setPalette(palette);
    m_nextLabel->setText(QString::fromLatin1(kUnplugText));
}

ProtocolReporter& RollOutWindow::progress() {
    return *m_progress;
}

void RollOutWindow::showEvent(QShowEvent* event) {
    placeOwned(this, m_owner);
    QWidget::showEvent(event);
}

void RollOutWindow::closeEvent(QCloseEvent* event) {
    // The roll-out ends first (a keyboard in progress with its report), then hides this.
    emit stopRequested();
    event->ignore();
}

}  // namespace qk750
