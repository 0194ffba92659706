// Largest stall of the window's thread per action and engine; see README.md.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>

#include <algorithm>
#include <cstdio>

#include "responsivelab.h"
#include "testmain.h"

using TavrixTest::ResponsiveLab;
using TavrixTest::Stall;

int main(int argc, char *argv[])
{
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Largest stall of the window's thread per action and engine."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Runs of the whole sequence (default 1)."),
                      QStringLiteral("n"), QStringLiteral("1")});
    parser.addOption(
        {QStringLiteral("engines"), QStringLiteral("Comma-separated engines (default all)."), QStringLiteral("list")});
    parser.addOption({QStringLiteral("log"), QStringLiteral("Appends the client's whole output to this file."),
                      QStringLiteral("file")});
    parser.process(app);
    const int runs = qMax(1, parser.value(QStringLiteral("runs")).toInt());
    const QStringList engines = parser.value(QStringLiteral("engines")).split(QLatin1Char(','), Qt::SkipEmptyParts);

    const QString reason = TavrixTest::tunnelSkipReason(ResponsiveLab::programsNeeded());
    if (!reason.isEmpty()) {
        fprintf(stderr, "bench_responsiveness: %s\n", qPrintable(reason));
        return 77;
    }
    ResponsiveLab lab;
    QString error;
    if (!lab.up(&error)) {
        fprintf(stderr, "bench_responsiveness: lab: %s\n", qPrintable(error));
        return 1;
    }
    const QString client = qEnvironmentVariableIsSet("TAVRIX_BIN_DIR")
                               ? qEnvironmentVariable("TAVRIX_BIN_DIR") + QStringLiteral("/tavrix-responsive-client")
                               : QCoreApplication::applicationDirPath() + QStringLiteral("/tavrix-responsive-client");

    // Per "action engine": the figures of every run, in the order first seen.
    QStringList order;
    QMap<QString, QList<Stall>> figures;
    int failedRuns = 0;
    for (int run = 1; run <= runs; ++run) {
        QByteArray output;
        const int code = lab.runClient(client, engines, &output, 300000);
        for (const QByteArray &line : output.split('\n')) {
            if (line.startsWith("FAIL ") ||
                (line.startsWith("DIALOG ") && !line.startsWith("DIALOG Would you like to log out?")))
                fprintf(stderr, "run %d: %s\n", run, line.constData());
        }
        if (code != 0)
            ++failedRuns;
        if (parser.isSet(QStringLiteral("log"))) {
            QFile log(parser.value(QStringLiteral("log")));
            if (log.open(QIODevice::Append))
                log.write(output);
        }
        for (const Stall &stall : ResponsiveLab::stalls(output)) {
            const QString key = stall.action + QLatin1Char(' ') + stall.engine;
            if (!figures.contains(key))
                order << key;
            figures[key] << stall;
        }
    }

    printf("%-16s %-12s %10s %10s %10s  (%d run%s, ms; own = less waits for a processor)\n", "action", "engine",
           "largest", "own", "p99", runs, runs == 1 ? "" : "s");
    for (const QString &key : order) {
        const QList<Stall> &list = figures[key];
        double largest = 0;
        double own = 0;
        double ownLow = 1e9;
        double p99 = 0;
        for (const Stall &s : list) {
            largest = qMax(largest, s.maxMs);
            own = qMax(own, s.ownMs);
            ownLow = qMin(ownLow, s.ownMs);
            p99 = qMax(p99, s.p99Ms);
        }
        const Stall &first = list.first();
        printf("%-16s %-12s %10.1f %10.1f %10.1f", qPrintable(first.action), qPrintable(first.engine), largest, own,
               p99);
        if (list.size() > 1)
            printf("   own spread %.1f-%.1f", ownLow, own);
        printf("\n");
    }
    for (const QString &key : order) {
        const QList<Stall> &list = figures[key];
        double largest = 0;
        double own = 0;
        for (const Stall &s : list) {
            largest = qMax(largest, s.maxMs);
            own = qMax(own, s.ownMs);
        }
        QString action = list.first().action;
        const QString name =
            QStringLiteral("stall.%1.%2").arg(action.replace(QLatin1Char('-'), QLatin1Char('_')), list.first().engine);
        printf("RESULT %s %.1f ms\n", qPrintable(name), largest);
        printf("RESULT %s.own %.1f ms\n", qPrintable(name), own);
    }
    fflush(stdout);
    return failedRuns == 0 ? 0 : 1;
}
