#include "log/filelogger.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/paths.h"
#include "platform/privatefiles.h"

namespace Tavrix {

namespace {

struct FileLogState
{
    std::unique_ptr<QFile> file;
    std::unique_ptr<QTextStream> stream;
    bool rotationEnabled = true;
    // Not recursive: nothing done while it is held may emit a Qt message.
    std::mutex lock;
};

FileLogState &state()
{
    // Never destroyed: threads may still log while static destructors run.
    static FileLogState *s = new FileLogState;
    return *s;
}

const QString timeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString lineTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

QString separatorLine()
{
    return QLatin1Char('\n') + QString(80, QLatin1Char('=')) + QLatin1Char('\n');
}

QByteArray rotationMarker()
{
    const QByteArray tildes(80, '~');
    return "\n" + tildes + "\n[LOG ROTATED] - Older entries removed due to size limit\n" + tildes + "\n\n";
}

void makeStream(FileLogState &s)
{
    s.stream = std::make_unique<QTextStream>(s.file.get());
    s.stream->setCodec("UTF-8");
}

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "DEBUG";
    case QtInfoMsg:
        return "INFO";
    case QtWarningMsg:
        return "WARNING";
    case QtCriticalMsg:
        return "CRITICAL";
    case QtFatalMsg:
        return "FATAL";
    }
    return "";
}

// Caller holds the lock.
void rotateLocked(FileLogState &s)
{
    if (!s.rotationEnabled || !s.file || !s.file->isOpen())
        return;
    const qint64 size = s.file->size();
    if (size <= logRotationThreshold)
        return;

    fprintf(stderr, "Log file size (%lld bytes) exceeds limit, rotating...\n", static_cast<long long>(size));
    s.stream.reset();
    s.file->close();

    if (!s.file->open(QIODevice::ReadOnly | QIODevice::Text)) {
        fprintf(stderr, "ERROR: Failed to open log file for rotation\n");
        // A stream on a closed file would warn on every write, from inside the handler.
        if (!s.file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            fprintf(stderr, "ERROR: Failed to reopen log file after rotation\n");
            return;
        }
        makeStream(s);
        return;
    }
    QByteArray content = s.file->readAll();
    s.file->close();

    if (content.size() > logKeptTailSize) {
        const int cut = content.size() - int(logKeptTailSize);
        const int newline = content.indexOf('\n', cut);
        content = content.mid(newline >= 0 ? newline + 1 : cut);
    }

    if (!s.file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        fprintf(stderr, "ERROR: Failed to reopen log file after rotation\n");
        return;
    }
    s.file->write(content);
    s.file->flush();
    s.file->write(rotationMarker());
    s.file->flush();
    // Back to appending: a second instance may add its lines to the same file.
    s.file->close();
    if (!s.file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        fprintf(stderr, "ERROR: Failed to reopen log file after rotation\n");
        return;
    }

    makeStream(s);
    fprintf(stderr, "Log rotation complete. New size: %lld bytes\n", static_cast<long long>(s.file->size()));
}

} // namespace

bool initFileLogging()
{
    return initFileLogging(logFilePath());
}

bool initFileLogging(const QString &path)
{
    FileLogState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.stream.reset();
    s.file.reset();

    fprintf(stderr, "\n========================================\n");
    fprintf(stderr, "LOG FILE LOCATION:\n");
    fprintf(stderr, "%s\n", path.toLocal8Bit().constData());
    fprintf(stderr, "========================================\n\n");

    auto file = std::make_unique<QFile>(path);
    const bool existed = file->exists();
    const qint64 existingSize = existed ? file->size() : 0;
    if (existed)
        fprintf(stderr, "Existing log file found, size: %lld bytes\n", static_cast<long long>(existingSize));
    else
        fprintf(stderr, "Creating new log file...\n");

    // Owner-only: the log names the account, its addresses and DNS servers.
    QString error;
    if (!openOwnerOnlyForAppend(*file, &error)) {
        fprintf(stderr, "ERROR: Failed to open log file: %s\n", path.toLocal8Bit().constData());
        fprintf(stderr, "Error: %s\n", error.toLocal8Bit().constData());
        return false;
    }
    fprintf(stderr, "Log file opened successfully!\n\n");
    s.file = std::move(file);
    makeStream(s);

    QTextStream &out = *s.stream;
    out << separatorLine();
    out << "New Session Started: " << QDateTime::currentDateTime().toString(timeFormat) << '\n';
    out << "Log file path: " << path << '\n';
    if (existed)
        out << "Existing log size: " << existingSize << " bytes\n";
    out << separatorLine() << '\n';
    out.flush();
    rotateLocked(s);
    return true;
}

void fileMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Set while this thread holds the lock: a message that Qt raises from inside the handler
    // (a file that failed under it) must not wait for a lock its own thread holds.
    thread_local bool inHandler = false;
    const auto formatLine = [&] {
        QString line =
            QStringLiteral("[%1] [%2] %3")
                .arg(QDateTime::currentDateTime().toString(lineTimeFormat), QLatin1String(levelName(type)), message);
        const bool withSource = type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
        if (withSource && context.file && context.line > 0)
            line += QStringLiteral(" (%1:%2)").arg(QString::fromUtf8(context.file)).arg(context.line);
        return line;
    };
    if (inHandler) {
        fprintf(stderr, "%s\n", formatLine().toLocal8Bit().constData());
        if (type == QtFatalMsg)
            std::abort();
        return;
    }

    FileLogState &s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        inHandler = true;
        const QString line = formatLine();
        if (s.stream) {
            *s.stream << line << '\n';
            s.stream->flush();
            rotateLocked(s);
        }
        fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        inHandler = false;
    }
    if (type == QtFatalMsg)
        std::abort();
}

void rotateLogIfNeeded()
{
    FileLogState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    rotateLocked(s);
}

void closeFileLogging()
{
    FileLogState &s = state();
    // Pool threads may still be logging while the program exits.
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.stream) {
        QTextStream &out = *s.stream;
        out << '\n' << separatorLine();
        out << "Session Ended: " << QDateTime::currentDateTime().toString(timeFormat) << '\n';
        out << separatorLine() << '\n';
        out.flush();
        s.stream.reset();
    }
    if (s.file) {
        s.file->close();
        s.file.reset();
    }
}

void setLogRotationEnabled(bool enabled)
{
    FileLogState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.rotationEnabled = enabled;
}

} // namespace Tavrix
