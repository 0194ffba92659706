#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// About the program: its version, the service's home page, and the libraries, engines and
// fonts it is built from with their licences.
class AboutUsPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit AboutUsPage(QWidget *parent = nullptr);

    // "<name>: <licence>" for every third-party part the package ships.
    static QStringList components();

signals:
    void clickBack();

private:
    void showFontLicence();
};

} // namespace Tavrix
