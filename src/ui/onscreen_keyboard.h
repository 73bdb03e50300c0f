#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <array>
#include <vector>

class QPainter;

namespace qk750 {

// One key of the on-screen keyboard: its kind, what it shows and what it types in the
// plain, Shift, Ctrl and Alt states, and where it sits in layout units.
struct KeyboardKey {
    enum Kind {
        Ordinary = 0,
        Shift = 1,
        Ctrl = 2,
        Caps = 3,
        Alt = 5,
        Function = 19,
        Delay = 20,
    };
    int kind = Ordinary;
    std::array<QString, 4> captions;  // plain, Shift, Ctrl, Alt
    std::array<QString, 4> outputs;   // OutputTexts, same order; Latin-1 key-string text
    int left = 0;
    int top = 0;
    int width = 8;
    int height = 8;
};

// The 82 keys that the main window and the custom MCR dialog both carry.
const std::vector<KeyboardKey>& StandardKeyboardKeys();

// The on-screen keyboard control. Its Shift, Ctrl, Alt and Caps keys latch and choose
// which of a key's four outputs a press types; the pressed key is drawn in the highlight
// colour. The layout is scaled to the control's size.
class OnScreenKeyboard : public QWidget {
    Q_OBJECT

public:
    explicit OnScreenKeyboard(QWidget* parent = nullptr);
    ~OnScreenKeyboard() override;

    const std::vector<KeyboardKey>& keys() const { return m_keys; }
    void setKeys(std::vector<KeyboardKey> keys);
    QColor highlightColor() const { return m_highlight; }
    void setHighlightColor(const QColor& color);

    // Where key `index` is drawn now, in widget coordinates (for tests and tooltips).
    QRect keyRect(int index) const;
    // The key at a widget position, -1 when none.
    int keyAt(const QPoint& position) const;
    // Presses key `index` as a click would.
    void pressKey(int index);
    // The caption key `index` shows in the current latch state.
    QString keyCaption(int index) const;
    // The text a press of key `index` would type now; empty for Shift, Ctrl, Alt and Caps,
    // which only latch.
    QString keyOutput(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // 0 plain, 1 Shift, 2 Ctrl, 3 Alt: which output the next key press types.
    int outputState() const;
    bool shiftLatched() const { return m_shift; }
    bool ctrlLatched() const { return m_ctrl; }
    bool altLatched() const { return m_alt; }
    bool capsLatched() const { return m_caps; }

signals:
    // The output text of the pressed key for the current state.
    void keyClicked(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void paintKey(QPainter& painter, int index, const QFont& baseFont) const;
    bool isLatched(const KeyboardKey& key) const;

    std::vector<KeyboardKey> m_keys;
    QColor m_highlight = Qt::red;
    int m_pressed = -1;            // key under the mouse button, -1 when none
    bool m_pressedInside = false;  // the pointer is still over m_pressed
    bool m_shift = false;
    bool m_ctrl = false;
    bool m_alt = false;
    bool m_caps = false;
};

}  // namespace qk750
