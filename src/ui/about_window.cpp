#include "ui/about_window.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

#include "ui/window_support.h"

namespace qk750 {

namespace {

constexpr const char* kDefaultAboutUrl = "https://example.com/qk750";

QLabel* boldLabel(const QString& text, QWidget* parent, const QString& name, int x, int y, int w,
                  int h, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: black;"));
    label->setAlignment(alignment);
    label->setGeometry(x, y, w, h);
    return label;
}

// A keyboard seen from above: the key grid and the card reader's slot.
QPixmap keyboardPicture(int size, const QColor& body) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 16.0;
    painter.setBrush(body);
    painter.setPen(QPen(Qt::black, std::max(1.0, unit / 4)));
    painter.drawRoundedRect(QRectF(unit, 3 * unit, 14 * unit, 10 * unit), unit, unit);
    painter.setBrush(QColor(0x30, 0x30, 0x30));
    painter.drawRect(QRectF(2 * unit, 4 * unit, 12 * unit, 0.8 * unit));
    painter.setBrush(Qt::white);
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 6; ++column) {
            painter.drawRect(
                QRectF((2 + column * 2) * unit, (5.6 + row * 1.8) * unit, 1.6 * unit, 1.4 * unit));
        }
    }
    return pixmap;
}

}  // namespace

QString aboutUrl() {
    const QByteArray configured = qgetenv("QK750_ABOUT_URL");
    return configured.isEmpty() ? QString::fromLatin1(kDefaultAboutUrl)
                                : QString::fromLocal8Bit(configured);
}

QPixmap programPixmap(int size) {
    return keyboardPicture(size, QColor(0x2a, 0x6f, 0xb8));
}

AboutWindow::AboutWindow(QWidget* owner) : QDialog(nullptr), m_url(aboutUrl()), m_owner(owner) {
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(481, 302);
    setModal(false);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("infoPanel"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(2);
    panel->setGeometry(16, 16, 449, 217);

    auto* icon = new QLabel(panel);
    icon->setObjectName(QStringLiteral("programIcon"));
    icon->setPixmap(programPixmap(49));
    icon->setScaledContents(true);
    icon->setGeometry(10, 10, 49, 49);

    boldLabel(QStringLiteral("ZQ USB QK750"), panel, QStringLiteral("productLabel"), 72, 10, 200,
              20);
    boldLabel(QStringLiteral("Programmable POS Keyboard"), panel,
              QStringLiteral("descriptionLabel"), 72, 32, 220, 20);
    boldLabel(QStringLiteral("Version 2.00"), panel, QStringLiteral("versionLabel"), 10, 66, 282,
              20, Qt::AlignCenter);
    boldLabel(QStringLiteral("Copyright \u00a9 The QK750 Setup Project. All rights reserved."),
              panel, QStringLiteral("copyrightLabel"), 10, 92, 205, 52,
              Qt::AlignLeft | Qt::AlignTop)
        ->setWordWrap(true);
    boldLabel(QStringLiteral("Tel: +1 555 0100"), panel, QStringLiteral("phoneLabel"), 10, 146, 200,
              20);
    boldLabel(QStringLiteral("Fax: +1 555 0101"), panel, QStringLiteral("faxLabel"), 10, 166, 200,
              20);

    auto* image1 = new QLabel(panel);
    image1->setObjectName(QStringLiteral("smallPicture"));
    image1->setPixmap(keyboardPicture(73, QColor(0xd0, 0xd8, 0xe0)));
    image1->setScaledContents(true);
    image1->setGeometry(218, 136, 73, 73);

    auto* image2 = new QLabel(panel);
    image2->setObjectName(QStringLiteral("largePicture"));
    image2->setPixmap(keyboardPicture(145, QColor(0x2a, 0x6f, 0xb8)));
    image2->setScaledContents(true);
    image2->setGeometry(296, 36, 145, 145);

    auto* link = new QPushButton(m_url, panel);
    link->setObjectName(QStringLiteral("linkButton"));
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setAutoDefault(false);
    link->setStyleSheet(
        QStringLiteral("QPushButton { color: blue; text-decoration: underline; font-weight: bold;"
                       " border: none; text-align: left; }"));
    link->setGeometry(10, 188, 205, 24);
    connect(link, &QPushButton::clicked, this, [this] { emit linkActivated(m_url); });
    connect(this, &AboutWindow::linkActivated, this,
            [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    ok->setGeometry(203, 254, 75, 28);
    connect(ok, &QPushButton::clicked, this, &QDialog::hide);
}

void AboutWindow::showEvent(QShowEvent* event) {
    placeOwned(this, m_owner);
    QDialog::showEvent(event);
}

}  // namespace qk750
