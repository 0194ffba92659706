#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace Tavrix {
class MainWindow;
}

// Visits the signed-in account and information pages of the hub and takes a picture of each
// at the window's size, ending with a referral
// redemption and its congratulation popup, which signs the account out.
// `shot(name, widget)` saves one picture.
void shootAccountPages(Tavrix::MainWindow &window, const std::function<void(const QString &, QWidget *)> &shot);
