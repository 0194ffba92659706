#pragma once

class QWidget;
class QString;

namespace Tavrix {

// The whole life of the program: start-up, the event loop and shutdown. Returns the exit
// code: the event loop's, 0 when another instance was woken, -1 without a screen.
int runApplication(int &argc, char **argv);

// Brings window to the front when a second start asks for it.
void wakeUpWindow(QWidget *window);

} // namespace Tavrix
