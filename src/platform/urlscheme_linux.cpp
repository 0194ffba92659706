#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

#include "platform/urlscheme.h"

namespace Tavrix {

QString desktopExecArgument(const QString &argument)
{
    QString quoted;
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

namespace {

const QString desktopFileName = QStringLiteral("tavrixvpn-url-handler.desktop");
const QString schemeMimeType = QStringLiteral("x-scheme-handler/tavrixvpn");
const QString defaultsSection = QStringLiteral("[Default Applications]");

bool writeFile(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content);
    return file.commit();
}

bool writeDesktopEntry(const QString &executable)
{
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/applications");
    if (!QDir().mkpath(folder))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Tavrix VPN\n"
                                         "Comment=URL:Tavrix VPN Protocol\n"
                                         "Exec=%1 %u\n"
                                         "Terminal=false\n"
                                         "NoDisplay=true\n"
                                         "MimeType=%2;\n")
                              .arg(desktopExecArgument(executable), schemeMimeType);
    return writeFile(folder + QLatin1Char('/') + desktopFileName, entry.toUtf8());
}

// Sets this client as the default handler of the scheme in the user's mimeapps.list and
// keeps every other line of the file as it was.
bool writeDefaultHandler()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!QDir().mkpath(folder))
        return false;
    const QString path = folder + QStringLiteral("/mimeapps.list");

    QStringList lines;
    QFile existing(path);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return false;
        lines = QString::fromUtf8(existing.readAll()).split(QLatin1Char('\n'));
        existing.close();
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
    }

    const QString handlerLine = schemeMimeType + QLatin1Char('=') + desktopFileName;
    int section = -1;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).trimmed() == defaultsSection) {
            section = i;
            break;
        }
    }
    if (section < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines << QString();
        lines << defaultsSection << handlerLine;
    } else {
        int end = section + 1;
        bool replaced = false;
        for (; end < lines.size() && !lines.at(end).trimmed().startsWith(QLatin1Char('[')); ++end) {
            if (lines.at(end).section(QLatin1Char('='), 0, 0).trimmed() == schemeMimeType) {
                lines[end] = handlerLine;
                replaced = true;
            }
        }
        if (!replaced) {
            // After the section's last entry, before any blank lines that separate it.
            while (end > section + 1 && lines.at(end - 1).trimmed().isEmpty())
                --end;
            lines.insert(end, handlerLine);
        }
    }
    return writeFile(path, (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
}

} // namespace

bool writeUrlSchemeHandler(const QString &executable)
{
    return writeDesktopEntry(executable) && writeDefaultHandler();
}

} // namespace Tavrix
