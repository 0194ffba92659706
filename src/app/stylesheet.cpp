#include "app/stylesheet.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace Tavrix {

namespace {

constexpr int smallSize = 14; // replaces 16 px
constexpr int largeSize = 22; // replaces 24 px
constexpr int fontWeight = 500;

// Distinct numbers captured by pattern in the sheet with its blanks removed, in order of
// first appearance.
QStringList distinctNumbers(const QString &probe, const QRegularExpression &pattern)
{
    QStringList numbers;
    QSet<QString> seen;
    auto it = pattern.globalMatch(probe);
    while (it.hasNext()) {
        const QString number = it.next().captured(1);
        if (!seen.contains(number)) {
            seen.insert(number);
            numbers.append(number);
        }
    }
    return numbers;
}

} // namespace

QByteArray scaleStyleSheetFonts(const QByteArray &sheet)
{
    // UTF-8 throughout, so comments or family names with other letters survive.
    QString text = QString::fromUtf8(sheet);
    const QString probe = QString::fromUtf8(sheet.simplified()).remove(QLatin1Char(' '));

    static const QRegularExpression sizePattern(QStringLiteral("font-size:(\\d+)px"));
    for (const QString &size : distinctNumbers(probe, sizePattern)) {
        int scaled = size.toInt();
        if (scaled == 16)
            scaled = smallSize;
        else if (scaled == 24)
            scaled = largeSize;
        const QString replacement = QStringLiteral("font-size: %1px").arg(scaled);
        text.replace(QStringLiteral("font-size: ") + size + QStringLiteral("px"), replacement);
        text.replace(QStringLiteral("font-size:") + size + QStringLiteral("px"), replacement);
    }

    static const QRegularExpression weightPattern(QStringLiteral("font-weight:(\\d+);"));
    for (const QString &weight : distinctNumbers(probe, weightPattern)) {
        // Whole numbers only: a weight of 50 must not touch a weight of 500.
        const QRegularExpression declaration(QStringLiteral("font-weight: ?") + weight + QStringLiteral("(?!\\d)"));
        text.replace(declaration, QStringLiteral("font-weight: %1").arg(fontWeight));
    }
    return text.toUtf8();
}

bool loadStyleSheet(QString *sheet)
{
    qDebug().noquote() << "Loading application styles...";
    QFile file(QStringLiteral(":/assets/style.qss"));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Failed to open style file";
        return false;
    }
    const QByteArray bytes = file.readAll();
    *sheet = QString::fromUtf8(scaleStyleSheetFonts(bytes));
    qDebug().noquote() << "Styles loaded successfully (" << bytes.size() << "bytes)";
    return true;
}

} // namespace Tavrix
