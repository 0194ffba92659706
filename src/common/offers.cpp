#include "common/offers.h"

#include <QRegularExpression>

namespace Tavrix {
namespace Offers {

Layout layout(const QJsonArray &packages)
{
    QVector<QJsonObject> shown;
    for (const QJsonValue &value : packages) {
        const QJsonObject package = value.toObject();
        if (package.value(QStringLiteral("should_show")).toBool(false))
            shown.append(package);
    }
    Layout result;
    const int rows = shown.size() / 2;
    for (int i = 0; i < 2 * rows; ++i) {
        Cell cell;
        cell.row = i / 2;
        cell.column = i % 2;
        cell.package = shown.at(i);
        cell.empty = shown.at(i).value(QStringLiteral("name")).toString() == QLatin1String("2 Years");
        result.cells.append(cell);
    }
    if (2 * rows < packages.size())
        result.bottom = packages.at(2 * rows).toObject();
    return result;
}

QStringList comparisonCells(const QString &text)
{
    static const QRegularExpression separator(QStringLiteral("~~|,"));
    return text.split(separator);
}

int comparisonRows(const QStringList &cells)
{
    return cells.size() / 3;
}

QString highlightLines(const QString &highlightedText)
{
    const QStringList words = highlightedText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 2)
        return words.value(0);
    return words.at(0) + QLatin1Char('\n') + words.at(1);
}

} // namespace Offers
} // namespace Tavrix
