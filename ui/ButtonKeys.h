#pragma once

class QWidget;

// Enter or Return on a push button that has the focus presses it, as Space does,
// the way keyboard users know it from other desktops. No button becomes a default
// button: Enter in a text box presses nothing.
namespace ButtonKeys {
void pressOnEnter(QWidget &root);
} // namespace ButtonKeys
