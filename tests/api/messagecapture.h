#pragma once

// Collects every Qt message of the process while it lives (they still reach the previous
// handler), so tests can check what was logged and what never was.

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace TavrixTest {

class MessageCapture
{
public:
    MessageCapture()
    {
        current() = this;
        m_previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(m_previous);
        current() = nullptr;
    }

    QStringList lines() const
    {
        QMutexLocker locker(&m_mutex);
        return m_lines;
    }
    int count(const QString &start) const
    {
        int n = 0;
        for (const QString &line : lines())
            n += line.startsWith(start) ? 1 : 0;
        return n;
    }
    bool contains(const QString &text) const
    {
        for (const QString &line : lines()) {
            if (line.contains(text))
                return true;
        }
        return false;
    }

private:
    static MessageCapture *&current()
    {
        static MessageCapture *capture = nullptr;
        return capture;
    }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        MessageCapture *capture = current();
        if (!capture)
            return;
        {
            QMutexLocker locker(&capture->m_mutex);
            capture->m_lines.append(text);
        }
        if (capture->m_previous && qEnvironmentVariableIsSet("TAVRIX_TEST_VERBOSE"))
            capture->m_previous(type, context, text);
    }

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace TavrixTest
