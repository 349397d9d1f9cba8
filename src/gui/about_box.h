#pragma once
// The about box: the program's name, version, what it is and the Qt it was built with.

class QWidget;

namespace sonavel {

// Shows the box modally over `parent` until the user closes it.
void ShowAboutBox(QWidget* parent);

}  // namespace sonavel
