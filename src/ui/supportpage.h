#pragma once

#include "ui/placeholderpage.h"

namespace Tavrix {

// Ways to the service's support: its e-mail address, the log folder, and a diagnostic report
// (version, system, status, newest log lines with every secret hidden) for the clipboard.
class SupportPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit SupportPage(QWidget *parent = nullptr);

    // The report as "Copy diagnostic report" puts it on the clipboard.
    static QString diagnosticReport();
    // The address the e-mail button writes to: the account's contact address when the
    // service gave one, else the service's support address.
    static QString supportAddress();

signals:
    void clickBack();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void copyReport();

    QPushButton *m_email = nullptr;
};

} // namespace Tavrix
