#pragma once

#include <QObject>
#include <QString>

namespace Tavrix {

// Watches the application object for file-open events (a link or a document handed to the
// running program by the system) and reports them. Events always pass on to their target.
class FileOpenEventFilter : public QObject
{
    Q_OBJECT
public:
    explicit FileOpenEventFilter(QObject *parent = nullptr);

    QString lastUrl() const { return m_lastUrl; }

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void urlOpened(const QString &url);
    void fileOpened(const QString &file);

private:
    QString m_lastUrl;
};

} // namespace Tavrix
