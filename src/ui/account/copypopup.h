#pragma once

class QString;
class QWidget;

namespace Tavrix {

// Shows the self-closing "copied" message over the window of `near`, modal to it while it is
// up, without blocking the caller.
void showCopiedPopup(QWidget *near, const QString &text);

} // namespace Tavrix
