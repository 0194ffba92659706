#pragma once

// The client's start-up for programs that drive the real window (the journey, the leak and
// responsiveness clients, the memory benchmark): fonts, style sheet, version, TLS, settings,
// as the program prepares itself before it builds the window.

#include <QApplication>

#include "app/fonts.h"
#include "app/stylesheet.h"
#include "common/config.h"
#include "vpn/openconnectconnection.h"

namespace TavrixTest {

inline void prepareClientApplication(QApplication &app)
{
    Tavrix::loadApplicationFonts();
    QString sheet;
    if (Tavrix::loadStyleSheet(&sheet))
        app.setStyleSheet(sheet);
    Tavrix::Config::setAppVersion(QCoreApplication::applicationVersion());
    Tavrix::OpenConnectConnection::initTls();
    Tavrix::Config::instance()->load();
}

} // namespace TavrixTest
