#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QPushButton;

namespace qk750 {

// The maker's web address: QK750_ABOUT_URL when set, else the project's page.
QString aboutUrl();

// The About box: product, version, maker block and a link button. Shown without being
// modal; OK, Enter, Esc and the close button hide it.
class AboutWindow : public QDialog {
    Q_OBJECT

public:
    explicit AboutWindow(QWidget* owner = nullptr);

    QString url() const { return m_url; }

signals:
    // The link button asks for this address to be opened.
    void linkActivated(const QString& url);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_url;
    QPointer<QWidget> m_owner;
};

// The program's icon, drawn: a small keyboard with a card slot.
QPixmap programPixmap(int size);

}  // namespace qk750
