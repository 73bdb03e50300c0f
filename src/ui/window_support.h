#pragma once

class QWidget;

namespace qk750 {

// Centres a top-level window on its owner window, or on the screen without one. The
// windows have no Qt parent: the owner disables itself while they are shown, and a
// disabled parent would disable them too.
void centreOn(QWidget* window, const QWidget* owner);

// Shows the window without making it modal and processes events until it is hidden;
// the owner is disabled meanwhile, then enabled again and given the focus. Device
// events and timers keep running.
void showOwned(QWidget* owner, QWidget* window);

// Processes events until the window is hidden.
void waitUntilHidden(QWidget* window);

}  // namespace qk750
