// Measures how long the server list takes to rebuild for accounts of 100, 1,000 and 5,000
// servers, offscreen, with the application's fonts and style sheet. Prints the median of
// several runs per size. --grab writes a picture of the page with a realistic list.

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "app/fonts.h"
#include "app/stylesheet.h"
#include "benchresult.h"
#include "common/config.h"
#include "common/countryflags.h"
#include "common/user.h"
#include "ui/servers/serverselectionpage.h"
#include "ui/servers/treechilditem.h"
#include "ui/servers/treeparentitem.h"

using namespace Tavrix;

namespace {

struct Country
{
    int code;
    const char *name;
    QStringList cities;
};

// Where a service of this kind has most of its servers; the rest of the flag table fills in
// the long tail.
const QVector<Country> &bigCountries()
{
    static const QVector<Country> list = {
        {840,
         "United States",
         {"New York", "Los Angeles", "Chicago", "Dallas", "Miami", "Seattle", "Atlanta", "Denver"}},
        {826, "United Kingdom", {"London", "Manchester", "Edinburgh"}},
        {276, "Germany", {"Frankfurt", "Berlin", "Munich"}},
        {250, "France", {"Paris", "Marseille"}},
        {528, "Netherlands", {"Amsterdam", "Rotterdam"}},
        {124, "Canada", {"Toronto", "Montreal", "Vancouver"}},
        {392, "Japan", {"Tokyo", "Osaka"}},
        {702, "Singapore", {"Singapore"}},
        {36, "Australia", {"Sydney", "Melbourne", "Perth"}},
        {356, "India", {"Mumbai", "Bangalore", "Chennai"}},
        {50, "Bangladesh", {"Dhaka", "Chittagong"}},
        {76, "Brazil", {"Sao Paulo", "Rio de Janeiro"}},
        {724, "Spain", {"Madrid", "Barcelona"}},
        {380, "Italy", {"Milan", "Rome"}},
        {752, "Sweden", {"Stockholm"}},
        {756, "Switzerland", {"Zurich"}},
        {616, "Poland", {"Warsaw"}},
        {792, "Turkey", {"Istanbul"}},
        {784, "United Arab Emirates", {"Dubai"}},
        {410, "South Korea", {"Seoul"}},
    };
    return list;
}

QJsonObject bundleJson(int id, int countryCode, const QString &country, const QString &city)
{
    static const char *const protocols[] = {"UDP", "TCP"};
    static const int types[] = {2, 1, 4, 5, 6};
    const int type = types[id % 5];
    return QJsonObject{
        {"ipName", city},
        {"ip", id % 23 == 0 ? QStringLiteral("8.8.8.8")
                            : QStringLiteral("10.%1.%2.%3").arg(id / 65536 % 256).arg(id / 256 % 256).arg(id % 256)},
        {"type", type},
        {"connection_type", 1},
        {"countryCode", QString::number(countryCode)},
        {"countryName", country},
        {"ip_id", id},
        {"platform", id % 2 ? "all" : "windows"},
        {"is_fast_server", id % 17 == 0 ? 1 : 0},
        {"is_gaming", id % 19 == 0 ? 1 : 0},
        {"is_online_stream", id % 13 == 0 ? 1 : 0},
        {"is_adblocker", id % 29 == 0 ? 1 : 0},
        {"is_loyal_user_server", id % 31 == 0 ? 1 : 0},
        {"transmission_protocol", protocols[id % 2]},
    };
}

// count servers: the big countries get most of them, every other country of the flag table
// one or two, numbered per city as a service lists its machines ("Frankfurt #3").
QVector<IPBundlePtr> makeAccount(int count)
{
    QJsonArray array;
    const QVector<CountryFlag> &flags = countryFlags();
    int id = 1;
    int round = 0;
    while (array.size() < count) {
        for (const Country &country : bigCountries()) {
            for (const QString &city : country.cities) {
                if (array.size() >= count)
                    break;
                const QString name = round == 0 ? city : QStringLiteral("%1 #%2").arg(city).arg(round + 1);
                array.append(bundleJson(id++, country.code, QString::fromLatin1(country.name), name));
            }
        }
        // The long tail: a share of the flag table per round, so bigger accounts cover more
        // countries, as they do.
        for (int i = round * 40; i < flags.size() && i < (round + 1) * 40 && array.size() < count; ++i) {
            QString name = QString::fromLatin1(flags.at(i).name).mid(5).replace(QLatin1Char('_'), QLatin1Char(' '));
            name[0] = name.at(0).toUpper();
            array.append(bundleJson(id++, flags.at(i).code, name, name + QStringLiteral(" 1")));
        }
        ++round;
    }
    return User::usableBundles(array);
}

struct Sample
{
    double wall; // ms
    double cpu;  // ms of this thread
};
using Samples = QVector<Sample>;

QList<double> wallTimes(const Samples &samples)
{
    QList<double> times;
    for (const Sample &sample : samples)
        times.append(sample.wall);
    return times;
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

class Stopwatch
{
public:
    Stopwatch()
    {
        m_wall.start();
        m_cpu = threadCpuMs();
    }
    // Time since the start.
    Sample lap() const { return {m_wall.nsecsElapsed() / 1e6, threadCpuMs() - m_cpu}; }

private:
    QElapsedTimer m_wall;
    double m_cpu = 0;
};

double median(const Samples &samples, double Sample::*field)
{
    QVector<double> values;
    for (const Sample &sample : samples)
        values.append(sample.*field);
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

double slowest(const Samples &samples, double Sample::*field)
{
    double most = 0;
    for (const Sample &sample : samples)
        most = qMax(most, sample.*field);
    return most;
}

int rowCount(QTreeWidget *tree)
{
    int rows = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        rows += tree->topLevelItem(i)->childCount();
    return rows;
}

} // namespace

int main(int argc, char *argv[])
{
    // Settings and caches of a throw-away profile: the page writes its state on every rebuild.
    QTemporaryDir profile;
    qputenv("XDG_CONFIG_HOME", profile.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setOrganizationName(QStringLiteral("Quennark"));
    QApplication::setApplicationName(QStringLiteral("TavrixVPN"));
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"runs", "Runs per size (default 9).", "n", "9"});
    parser.addOption({"grab", "Write a picture of the page with a 300-server account.", "file"});
    parser.addOption({"open", "Group opened in the picture (default Canada; empty: none).", "name", "Canada"});
    parser.addOption({"quick", "3 runs per size, for bench/run-all."});
    parser.process(app);
    const int runs = parser.isSet("quick") ? 3 : qMax(1, parser.value("runs").toInt());

    loadApplicationFonts();
    QString sheet;
    if (loadStyleSheet(&sheet))
        app.setStyleSheet(sheet);

    ServerSelectionPage page;
    page.resize(420, 720);
    page.show();
    QApplication::processEvents();
    QTreeWidget *tree = page.tree();

    if (parser.isSet("grab")) {
        User::instance()->setBundles(makeAccount(300));
        Config::instance()->addFavourite(3);
        Config::instance()->addFavourite(40);
        page.onFilter();
        // Open the first country with several servers, as a user would.
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            if (tree->topLevelItem(i)->data(0, Qt::UserRole + 3).toString() == parser.value("open")) {
                page.onExpandItem(tree->model()->index(i, 0));
                tree->scrollToItem(tree->topLevelItem(i), QAbstractItemView::PositionAtTop);
            }
        }
        QApplication::processEvents();
        page.grab().save(parser.value("grab"));
        std::printf("picture written to %s\n", qPrintable(parser.value("grab")));
        return 0;
    }

    // Wall time is what the user waits; CPU time of this thread stays readable when other
    // work shares the machine.
    std::printf("%7s %6s %6s | %-15s | %-15s | %-15s\n", "servers", "groups", "rows", "rebuild ms", "+ paint ms",
                "all widgets ms");
    std::printf("%7s %6s %6s | %6s %8s | %6s %8s | %6s %8s\n", "", "", "", "wall", "cpu", "wall", "cpu", "wall", "cpu");
    QStringList scrollSteps;
    for (int count : {100, 1000, 5000}) {
        User::instance()->setBundles(makeAccount(count));
        Samples rebuild, painted, eager, steps;
        for (int run = 0; run < runs + 1; ++run) {
            Stopwatch watch;
            page.onFilter();
            // The widgets of the previous tree go away at the next turn of the event loop;
            // that is part of the price.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            const Sample built = watch.lap();
            QApplication::processEvents();
            tree->viewport()->repaint();
            const Sample shown = watch.lap();
            if (run == 0)
                continue; // warm-up: pictures decoded, caches filled
            rebuild.append(built);
            painted.append(shown);
        }

        // What it would cost to give every row its widget up front, as a list without lazy
        // rows does on every rebuild.
        for (int run = 0; run < qMin(runs, 3); ++run) {
            page.onFilter();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            Stopwatch watch;
            tree->expandAll();
            for (QTreeWidgetItemIterator it(tree); *it; ++it) {
                QTreeWidgetItem *item = *it;
                if (const IPBundlePtr bundle = page.bundleOf(item))
                    tree->setItemWidget(item, 0, new TreeChildItem(false, false, bundle, tree, &page));
                else
                    tree->setItemWidget(item, 0,
                                        new TreeParentItem(item->data(0, Qt::UserRole + 3).toString(),
                                                           item->data(0, Qt::UserRole + 4).toInt(), tree));
            }
            QApplication::processEvents();
            eager.append(watch.lap());
        }

        // Scrolling the biggest open group a page per step: each step makes the rows that come
        // into view.
        page.onFilter();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTreeWidgetItem *largest = nullptr;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            if (!largest || tree->topLevelItem(i)->childCount() > largest->childCount())
                largest = tree->topLevelItem(i);
        }
        page.onExpandItem(tree->model()->index(tree->indexOfTopLevelItem(largest), 0));
        tree->scrollToItem(largest, QAbstractItemView::PositionAtTop);
        QApplication::processEvents();
        QScrollBar *bar = tree->verticalScrollBar();
        while (bar->value() < bar->maximum()) {
            Stopwatch watch;
            bar->setValue(bar->value() + tree->viewport()->height());
            tree->viewport()->repaint();
            steps.append(watch.lap());
        }
        scrollSteps.append(QStringLiteral("%1 rows, %2 pages: wall median %3 ms, slowest %4 ms; cpu median %5 ms")
                               .arg(largest->childCount())
                               .arg(steps.size())
                               .arg(median(steps, &Sample::wall), 0, 'f', 1)
                               .arg(slowest(steps, &Sample::wall), 0, 'f', 1)
                               .arg(median(steps, &Sample::cpu), 0, 'f', 1));

        page.onFilter();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        std::printf("%7d %6d %6d | %6.1f %8.1f | %6.1f %8.1f | %6.0f %8.0f\n", User::instance()->bundles().size(),
                    tree->topLevelItemCount(), rowCount(tree), median(rebuild, &Sample::wall),
                    median(rebuild, &Sample::cpu), median(painted, &Sample::wall), median(painted, &Sample::cpu),
                    median(eager, &Sample::wall), median(eager, &Sample::cpu));
        std::fflush(stdout);
        TavrixBench::printSamples(QStringLiteral("serverlist.rebuild.%1").arg(count), wallTimes(rebuild), "ms");
        TavrixBench::printSamples(QStringLiteral("serverlist.paint.%1").arg(count), wallTimes(painted), "ms");
    }
    std::printf("\nScrolling the biggest open group, a page per step:\n");
    for (const QString &line : scrollSteps)
        std::printf("  %s\n", qPrintable(line));
    return 0;
}
