#pragma once

class QWidget;

namespace qk750 {

// Centres a top-level window on its parent window, or on the screen without one.
void centreOnParent(QWidget* window);

// Shows the window without making it modal and processes events until it is hidden;
// the owner is disabled meanwhile, then enabled again and given the focus. Device
// events and timers keep running.
void showOwned(QWidget* owner, QWidget* window);

// Processes events until the window is hidden.
void waitUntilHidden(QWidget* window);

}  // namespace qk750
