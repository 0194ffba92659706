#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <QVector>

namespace Tavrix {

// What the purchase page shows, decided from the sign-in reply and the configuration: the
// comparison table, the offer grid and the wide offer under it.
namespace Offers {

struct Cell
{
    int row = 0;
    int column = 0;
    QJsonObject package;
    // "2 Years" keeps its place in the grid but is not offered there.
    bool empty = false;
};

struct Layout
{
    QVector<Cell> cells;
    // The wide offer: the package at position 2K of the full array (K grid rows); empty
    // when that position does not exist.
    QJsonObject bottom;
};

// Packages with "should_show" true fill rows of two (an odd last one is dropped).
Layout layout(const QJsonArray &packages);

// The cells of the comparison table text ("Feature~~Free~~Premium,Servers~~10~~100+,...").
QStringList comparisonCells(const QString &text);
// Three cells a row; an incomplete last row is dropped.
int comparisonRows(const QStringList &cells);

// The badge of a grid offer: the first two words of its highlight on two lines.
QString highlightLines(const QString &highlightedText);

} // namespace Offers
} // namespace Tavrix
