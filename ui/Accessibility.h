#pragma once

class QWidget;

// What a screen reader announces for the controls of the main window and the
// Options dialog: a name and a description for each, and each label tied to
// the box it names. A control whose caption says what it is keeps the caption
// as its name, so the name follows a caption that changes (Start / Stop).
namespace Accessibility {
void describeMainWindow(QWidget &window);
void describeOptionsDialog(QWidget &dialog);
} // namespace Accessibility
