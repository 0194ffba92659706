#pragma once

#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <cstdint>

#include "vpn/openconnectconnection.h"

class QLabel;

namespace Tavrix {

// Live traffic while connected: download and upload rates and the round trip to the server.
// Rates come from the controller's counters, or for engines without counters from the
// system's per-interface counters (the "typeperf" program).
class StatsIndicator : public QWidget
{
    Q_OBJECT
public:
    explicit StatsIndicator(QWidget *parent = nullptr);
    ~StatsIndicator() override;

    static QString normalizeByteSize(uint64_t bytes);

public slots:
    void onStatusChanged(Tavrix::OpenConnectConnection::Status status);
    void ServerSpeed();
    void readProcessDownload();
    void readProcessUpload();
    void readProcessPing();

private:
    void startMeasuring(const QString &host, int serverType);
    void stopMeasuring();
    void onStatsChanged(uint64_t tx, uint64_t rx);
    void showRate(QProcess &process, QByteArray &pending, QLabel *label);
    void stopProcess(QProcess &process);

    QProcess m_download;
    QProcess m_upload;
    QProcess m_ping;
    QTimer m_speedTimer;
    QByteArray m_downloadPending;
    QByteArray m_uploadPending;
    QByteArray m_pingOutput;

    QLabel *m_lblDownloadIcon = nullptr;
    QLabel *m_lblDownload = nullptr;
    QLabel *m_lblUploadIcon = nullptr;
    QLabel *m_lblUpload = nullptr;
    QLabel *m_lblPingIcon = nullptr;
    QLabel *m_lblPing = nullptr;
};

} // namespace Tavrix
