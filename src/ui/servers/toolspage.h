#pragma once

#include <QFutureWatcher>
#include <QProcess>

#include <cstdint>
#include <memory>

#include "ui/placeholderpage.h"

class QLabel;

namespace Tavrix {

class ApiRequest;

// "Test Your Network": whether traffic is protected ("Secure" while a tunnel is up, "Risk"
// otherwise), the address it leaves from, two samples of the received and sent bytes per
// second from the counter program "typeperf", and one ping to that address. A second press
// and "Back" stop a test that is still running. The public address, looked up off the GUI
// thread, is kept for the life of the page.
class ToolsPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit ToolsPage(QWidget *parent = nullptr);
    ~ToolsPage() override;

    QString cachedPublicIp() const { return m_publicIp; }
    bool isTesting() const;

    static QString normalizeByteSize(uint64_t bytes);

signals:
    void clickBack();

public slots:
    void on_btnBack_pressed();
    void on_btnTest_pressed();
    void ServerSpeed();
    void readProcessDownload();
    void readProcessUpload();
    void readProcessPing();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildForm();
    void stopCounters();
    void showAddress(const QString &address);
    void onPublicIpFound();
    void showRate(QProcess &process, QByteArray &pending, QLabel *label);
    void setLevel(bool secure);

    QProcess m_download;
    QProcess m_upload;
    QProcess m_ping;
    QByteArray m_downloadPending;
    QByteArray m_uploadPending;
    QString m_publicIp;
    std::shared_ptr<ApiRequest> m_api;
    QFutureWatcher<QString> m_ipLookup;

    QLabel *m_lblTavrixLogo = nullptr;
    QLabel *m_lblTestLogo = nullptr;
    QLabel *m_lblSecurityLogo = nullptr;
    QLabel *m_lblIPLogo = nullptr;
    QLabel *m_lblDownlordLogo = nullptr;
    QLabel *m_lblUploadLogo = nullptr;
    QLabel *m_lblPingLogo = nullptr;
    QLabel *m_lblrisk = nullptr;
    QLabel *m_lblIP = nullptr;
    QLabel *m_lblDwnload = nullptr;
    QLabel *m_lblUpload = nullptr;
    QLabel *m_lblPing = nullptr;
    QPushButton *m_btnTest = nullptr;
};

} // namespace Tavrix
