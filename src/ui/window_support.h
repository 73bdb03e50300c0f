#pragma once

#include <QColor>
#include <QString>

#include <functional>
#include <string>
#include <string_view>

#include "app/path_text.h"

class QLabel;
class QLineEdit;
class QWidget;

namespace qk750 {

// The colours of a warning and of an error in the windows' insight display.
inline const QColor kWarningColour(0xc0, 0x70, 0x00);
inline const QColor kErrorColour(0xc0, 0x00, 0x00);

// The program's own texts (messages, labels, key names) are ASCII; these convert them
// for the controls and back, byte for byte.
QString latin1(std::string_view text);
std::string bytes(const QString& text);

// The key string of a line's text (see app/key_text.h). The lines take no character
// outside the code page; should one come through all the same, it is left out.
std::string keyStringBytes(QString text);

// Keeps characters outside the key strings' code page out of a key-string line, typed,
// pasted or dropped alike: the keyboard types 8-bit characters only, and a "?" in their
// place would program a "?" keystroke. rejected gets the first such character of the
// refused input.
void acceptKeyTextOnly(QLineEdit* line, std::function<void(const QString&)> rejected);

// The hint that says why such a character was not taken.
QString refusedCharacterHint(const QString& character);

// Shows a hint in a one-line label, cut to its width; the tooltip holds the whole text.
void showHint(QLabel* label, const QString& text);

// Trims blanks and control characters at both ends, as key strings are trimmed.
QString trimBlanks(const QString& text);

// Centres a top-level window on its owner window, or on the screen without one. The
// windows have no Qt parent: the owner disables itself while they are shown, and a
// disabled parent would disable them too.
void centreOn(QWidget* window, const QWidget* owner);

// Called as an owned window is shown: the window manager is told that the window belongs
// to its owner (so it keeps it above the owner), and it is centred on the owner.
void placeOwned(QWidget* window, const QWidget* owner);

// Shows the window without making it modal and processes events until it is hidden;
// the owner is disabled meanwhile, then enabled again, activated, and the control that
// had its focus gets it back. Device events and timers keep running. shown runs once the
// window is on the screen.
void showOwned(QWidget* owner, QWidget* window, const std::function<void()>& shown = {});

// Processes events until the window is hidden.
void waitUntilHidden(QWidget* window);

}  // namespace qk750
