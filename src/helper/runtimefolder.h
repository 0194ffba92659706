#pragma once

#include <QByteArray>
#include <QString>

namespace Tavrix {

// The one folder the helper writes to: root-owned, 0700 (/run/tavrixvpn, made by systemd, or
// the folder given with --runtime-dir). Profiles, WireGuard configurations and management
// sockets live here for the life of their tunnel, never in a user's home.
class RuntimeFolder
{
public:
    // Makes the folder when missing, insists on root's ownership and mode 0700, and removes
    // what a previous run left behind. False with *error set when it cannot be made safe.
    bool prepare(const QString &path, QString *error);
    QString path() const { return m_path; }
    QString filePath(const QString &name) const;
    // Writes a file only root may read (0600), replacing any earlier one.
    bool writePrivate(const QString &name, const QByteArray &content, QString *error) const;
    void remove(const QString &name) const;

private:
    QString m_path;
};

} // namespace Tavrix
