#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;

namespace qk750 {

// The progress window of a programming run: a label and a bar, no buttons, above every
// other window. Only the run shows and hides it.
class ProgressWindow : public QWidget {
    Q_OBJECT

public:
    explicit ProgressWindow(QWidget* owner = nullptr);

    QProgressBar* progressBar() const { return m_progressBar; }
    // Sets the bar's range 0..maximum and its position.
    void setRange(int maximum, int position);
    // The bar shows the position once pending events are next processed. The closing
    // request's address may lie above the maximum: the bar shows it full.
    void setPosition(int position);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showPosition();

    QPointer<QWidget> m_owner;
    int m_position = 0;
    bool m_positionPosted = false;
    QLabel* m_messageLabel;
    QProgressBar* m_progressBar;
};

}  // namespace qk750
