#include "ui/onscreen_keyboard.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace qk750 {

namespace {

// The layout spans x 3..155 and y 3..54; the same 3-unit margin on every side.
constexpr double kLayoutWidth = 158.0;
constexpr double kLayoutHeight = 57.0;

bool isModifier(int kind) {
    return kind == KeyboardKey::Shift || kind == KeyboardKey::Ctrl || kind == KeyboardKey::Alt ||
           kind == KeyboardKey::Caps;
}

bool isLetterKey(const KeyboardKey& key) {
    return key.kind == KeyboardKey::Ordinary && key.captions[0].size() == 1 &&
           key.captions[0].at(0).isLetter();
}

}  // namespace

OnScreenKeyboard::OnScreenKeyboard(QWidget* parent)
    : QWidget(parent), m_keys(StandardKeyboardKeys()) {
    // Clicking a key must leave the focus on the line that receives the text.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QFont f = font();
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    setFont(f);
}

OnScreenKeyboard::~OnScreenKeyboard() = default;

void OnScreenKeyboard::setKeys(std::vector<KeyboardKey> keys) {
    m_keys = std::move(keys);
    m_pressed = -1;
    m_pressedInside = false;
    update();
}

void OnScreenKeyboard::setHighlightColor(const QColor& color) {
    m_highlight = color;
    update();
}

QSize OnScreenKeyboard::sizeHint() const {
    return {691, 203};
}

QSize OnScreenKeyboard::minimumSizeHint() const {
    return {2 * static_cast<int>(kLayoutWidth), 2 * static_cast<int>(kLayoutHeight)};
}

QRect OnScreenKeyboard::keyRect(int index) const {
    if (index < 0 || index >= static_cast<int>(m_keys.size())) {
        return {};
    }
    const KeyboardKey& key = m_keys[static_cast<std::size_t>(index)];
    const double sx = width() / kLayoutWidth;
    const double sy = height() / kLayoutHeight;
    // Rounding both edges of every key the same way keeps neighbours from overlapping;
    // the inset leaves a visible gap between them.
    const int inset = std::max(1, static_cast<int>(std::lround(std::min(sx, sy) * 0.3)));
    const int x0 = static_cast<int>(std::lround(key.left * sx)) + inset;
    const int y0 = static_cast<int>(std::lround(key.top * sy)) + inset;
    const int x1 = static_cast<int>(std::lround((key.left + key.width) * sx)) - inset;
    const int y1 = static_cast<int>(std::lround((key.top + key.height) * sy)) - inset;
    if (x1 <= x0 || y1 <= y0) {
        return {};
    }
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
}

int OnScreenKeyboard::keyAt(const QPoint& position) const {
    for (int i = 0; i < static_cast<int>(m_keys.size()); ++i) {
        if (keyRect(i).contains(position)) {
            return i;
        }
    }
    return -1;
}

int OnScreenKeyboard::outputState() const {
    // At most one of them is latched.
    if (m_ctrl) {
        return 2;
    }
    if (m_alt) {
        return 3;
    }
    return m_shift ? 1 : 0;
}

namespace {

// Which of a key's four texts applies. Caps acts as on a real keyboard: it swaps the plain
// and Shift forms of letter keys only, so Caps with Shift types a small letter again.
int stateFor(const KeyboardKey& key, int modifierState, bool caps) {
    if (caps && modifierState <= 1 && isLetterKey(key)) {
        return 1 - modifierState;
    }
    return modifierState;
}

const QString& pick(const std::array<QString, 4>& texts, int state) {
    const QString& text = texts[static_cast<std::size_t>(state)];
    return text.isEmpty() ? texts[0] : text;
}

}  // namespace

QString OnScreenKeyboard::keyCaption(int index) const {
    if (index < 0 || index >= static_cast<int>(m_keys.size())) {
        return {};
    }
    const KeyboardKey& key = m_keys[static_cast<std::size_t>(index)];
    return pick(key.captions, stateFor(key, outputState(), m_caps));
}

QString OnScreenKeyboard::keyOutput(int index) const {
    if (index < 0 || index >= static_cast<int>(m_keys.size())) {
        return {};
    }
    const KeyboardKey& key = m_keys[static_cast<std::size_t>(index)];
    if (isModifier(key.kind)) {
        return {};
    }
    return pick(key.outputs, stateFor(key, outputState(), m_caps));
}

bool OnScreenKeyboard::isLatched(const KeyboardKey& key) const {
    switch (key.kind) {
        case KeyboardKey::Shift:
            return m_shift;
        case KeyboardKey::Ctrl:
            return m_ctrl;
        case KeyboardKey::Alt:
            return m_alt;
        case KeyboardKey::Caps:
            return m_caps;
        default:
            return false;
    }
}

void OnScreenKeyboard::pressKey(int index) {
    if (!isEnabled() || index < 0 || index >= static_cast<int>(m_keys.size())) {
        return;
    }
    const KeyboardKey& key = m_keys[static_cast<std::size_t>(index)];
    // Shift, Ctrl, Alt and Caps only choose what the next key types. Their plain outputs
    // ("<shift>", "<caps>", ...) name no key and compile to nothing, so passing them on
    // would only leave dead text in the line being edited; they are not emitted.
    switch (key.kind) {
        case KeyboardKey::Shift:
        case KeyboardKey::Ctrl:
        case KeyboardKey::Alt: {
            // A tag takes one modifier: latching one releases the others, so what is lit
            // is what the next key types.
            bool& latch = key.kind == KeyboardKey::Shift  ? m_shift
                          : key.kind == KeyboardKey::Ctrl ? m_ctrl
                                                          : m_alt;
            const bool on = !latch;
            m_shift = m_ctrl = m_alt = false;
            latch = on;
            update();
            return;
        }
        case KeyboardKey::Caps:
            m_caps = !m_caps;
            update();
            return;
        default:
            break;
    }
    const QString text = keyOutput(index);
    // Shift, Ctrl and Alt hold for one key, as sticky keys do; Caps stays until clicked.
    m_shift = m_ctrl = m_alt = false;
    update();
    if (!text.isEmpty()) {
        emit keyClicked(text);
    }
}

void OnScreenKeyboard::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_pressed = keyAt(event->position().toPoint());
    m_pressedInside = m_pressed >= 0;
    update();
    event->accept();
}

void OnScreenKeyboard::mouseMoveEvent(QMouseEvent* event) {
    if (m_pressed < 0) {
        return;
    }
    // Like a button: the key stays lit only while the pointer is over it, and releasing
    // elsewhere cancels the press.
    const bool inside = keyAt(event->position().toPoint()) == m_pressed;
    if (inside != m_pressedInside) {
        m_pressedInside = inside;
        update(keyRect(m_pressed));
    }
}

void OnScreenKeyboard::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_pressed < 0) {
        return;
    }
    const int index = m_pressed;
    const bool inside = keyAt(event->position().toPoint()) == index;
    m_pressed = -1;
    m_pressedInside = false;
    update();
    if (inside) {
        pressKey(index);
    }
}

void OnScreenKeyboard::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        m_pressed = -1;
        m_pressedInside = false;
        update();
    }
    QWidget::changeEvent(event);
}

void OnScreenKeyboard::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.fillRect(rect(), palette().color(QPalette::Window).darker(112));
    painter.setRenderHint(QPainter::Antialiasing);

    // One size for every caption, from the key height; long names shrink to fit their key.
    const double sx = width() / kLayoutWidth;
    const double sy = height() / kLayoutHeight;
    QFont base = font();
    base.setPixelSize(std::max(7, static_cast<int>(std::lround(std::min(sy * 3.2, sx * 2.7)))));

    for (int i = 0; i < static_cast<int>(m_keys.size()); ++i) {
        if (event->region().intersects(keyRect(i))) {
            paintKey(painter, i, base);
        }
    }
}

void OnScreenKeyboard::paintKey(QPainter& painter, int index, const QFont& baseFont) const {
    const QRect r = keyRect(index);
    if (r.isEmpty()) {
        return;
    }
    const KeyboardKey& key = m_keys[static_cast<std::size_t>(index)];
    const bool enabled = isEnabled();
    const bool lit = enabled && index == m_pressed && m_pressedInside;
    const bool down = lit || isLatched(key);
    const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;

    QColor face = palette().color(group, QPalette::Button);
    if (key.kind != KeyboardKey::Ordinary) {
        face = face.darker(110);
    }
    QColor text = palette().color(group, QPalette::WindowText);
    QColor border = palette().color(group, QPalette::Dark);

    const QRectF box = QRectF(r).adjusted(0.5, 0.5, 0.5, 0.5);
    const double radius = std::min(3.0, r.height() / 6.0);
    QPainterPath path;
    path.addRoundedRect(box, radius, radius);

    if (lit) {
        // A flat highlight, so the pressed key reads at a glance.
        painter.fillPath(path, m_highlight);
        text = m_highlight.lightness() < 150 ? QColor(Qt::white) : QColor(Qt::black);
        border = m_highlight.darker(140);
    } else if (down) {
        painter.fillPath(path, face.darker(130));
        border = palette().color(group, QPalette::Shadow);
    } else {
        QLinearGradient shade(box.topLeft(), box.bottomLeft());
        shade.setColorAt(0.0, face.lighter(112));
        shade.setColorAt(1.0, face.darker(104));
        painter.fillPath(path, shade);
    }
    painter.strokePath(path, QPen(border, 1.0));

    if (!down) {
        // The lower edge of a raised key.
        painter.setPen(QPen(face.darker(135), 1.0));
        painter.drawLine(QPointF(box.left() + radius, box.bottom() - 1.0),
                         QPointF(box.right() - radius, box.bottom() - 1.0));
    } else if (!lit && enabled) {
        // A latched modifier shows a small lamp, like a Caps Lock light.
        const double d = std::max(3.0, r.height() / 7.0);
        QPainterPath lamp;
        lamp.addEllipse(QRectF(box.left() + d * 0.7, box.top() + d * 0.7, d, d));
        painter.fillPath(lamp, palette().color(QPalette::Highlight));
    }

    const QString caption = keyCaption(index);
    if (caption.isEmpty()) {
        return;
    }
    QFont f = baseFont;
    const int room = r.width() - 4;
    const int advance = QFontMetrics(f).horizontalAdvance(caption);
    if (advance > room && advance > 0) {
        f.setPixelSize(std::max(6, f.pixelSize() * room / advance));
    }
    painter.setFont(f);
    painter.setPen(text);
    // A key that is down shows its caption one pixel lower.
    painter.drawText(down ? r.translated(0, 1) : r, Qt::AlignCenter | Qt::TextSingleLine, caption);
}

}  // namespace qk750
