#pragma once

// Machine-readable figures of the benchmark programs: one "RESULT <key> <value> <unit>" line per
// figure on stdout, which bench/run-all gathers into one table. A key "K" may come with "K.min"
// and "K.max", the spread over the repetitions.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace TavrixBench {

inline double medianOf(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

inline void printResult(const QString &key, double value, const char *unit)
{
    std::printf("RESULT %s %.*f %s\n", qPrintable(key), value != 0 && qAbs(value) < 10 ? 3 : 1, value, unit);
    std::fflush(stdout);
}

// Median of the samples with their smallest and largest as the spread.
inline void printSamples(const QString &key, const QList<double> &samples, const char *unit)
{
    if (samples.isEmpty())
        return;
    printResult(key, medianOf(samples), unit);
    printResult(key + QStringLiteral(".min"), *std::min_element(samples.begin(), samples.end()), unit);
    printResult(key + QStringLiteral(".max"), *std::max_element(samples.begin(), samples.end()), unit);
}

// The client against the same engine started by hand: both medians, and their ratio with the
// spread of the ratios of the reps taken side by side (only when every rep gave both figures;
// failed measurements count as 0 and are left out of the ratios).
inline void printComparison(const QString &key, const QList<double> &client, const QList<double> &byHand,
                            const char *unit)
{
    printSamples(key + QStringLiteral(".client"), client, unit);
    printSamples(key + QStringLiteral(".byhand"), byHand, unit);
    const double hand = medianOf(byHand);
    if (client.isEmpty() || hand <= 0)
        return;
    printResult(key + QStringLiteral(".ratio"), medianOf(client) / hand, "x");
    if (client.size() != byHand.size())
        return;
    QList<double> ratios;
    for (int i = 0; i < client.size(); ++i) {
        if (client.at(i) > 0 && byHand.at(i) > 0)
            ratios.append(client.at(i) / byHand.at(i));
    }
    if (ratios.size() > 1) {
        printResult(key + QStringLiteral(".ratio.min"), *std::min_element(ratios.begin(), ratios.end()), "x");
        printResult(key + QStringLiteral(".ratio.max"), *std::max_element(ratios.begin(), ratios.end()), "x");
    }
}

// What every tunnel benchmark is told on its command line.
struct TunnelOptions
{
    int reps = 3;
    int seconds = 5;        // of each iperf3 run
    QString outFile;        // also gets the summary when set
    bool viaHelper = false; // the client's side through the privileged helper
};

// --reps N, --seconds T, --out FILE, --quick (3 reps of 3 s) for bench/run-all, and --helper
// where the bench offers it.
inline TunnelOptions parseTunnelOptions(const QCoreApplication &app, const QString &description, int defaultReps = 3,
                                        bool offerHelper = false)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addOption({QStringLiteral("reps"), QStringLiteral("Connects per path (default %1).").arg(defaultReps),
                      QStringLiteral("n"), QString::number(defaultReps)});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Length of each iperf3 run (default 5)."),
                      QStringLiteral("s"), QStringLiteral("5")});
    parser.addOption(
        {QStringLiteral("out"), QStringLiteral("Also write the summary to this file."), QStringLiteral("file")});
    parser.addOption(
        {QStringLiteral("quick"), QStringLiteral("Fewer and shorter runs (3 reps, 3 s), for bench/run-all.")});
    if (offerHelper)
        parser.addOption(
            {QStringLiteral("helper"),
             QStringLiteral("The client's side through the privileged helper (private bus and polkitd).")});
    parser.process(app);
    TunnelOptions options;
    options.viaHelper = offerHelper && parser.isSet(QStringLiteral("helper"));
    const bool quick = parser.isSet(QStringLiteral("quick"));
    options.reps = quick ? 3 : qMax(1, parser.value(QStringLiteral("reps")).toInt());
    options.seconds = quick ? 3 : qMax(1, parser.value(QStringLiteral("seconds")).toInt());
    options.outFile = parser.value(QStringLiteral("out"));
    return options;
}

inline void writeSummary(const QString &outFile, const QString &summary)
{
    QFile file(outFile);
    if (!outFile.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(summary.toUtf8());
}

inline QString joinValues(const QList<double> &values)
{
    QStringList texts;
    for (double value : values)
        texts.append(QString::number(value, 'f', 1));
    return texts.join(QStringLiteral(" / "));
}

// What one path (the client, or the same engine by hand) gave over the reps.
struct TunnelFigures
{
    QList<double> connectMs;
    QList<double> up;
    QList<double> down;
};

// The client against the program by hand: a table of medians and values, the ratios, and the
// RESULT lines under key.
inline QString compareTunnels(const QString &key, const QString &title, const char *clientName, const char *handName,
                              const TunnelFigures &client, const TunnelFigures &hand)
{
    QString summary;
    QTextStream text(&summary);
    text << title << "\n";
    text << "path                 measure          median   values\n";
    const auto row = [&text](const char *path, const char *measure, const QList<double> &values) {
        text << QString::fromLatin1(path).leftJustified(21) << QString::fromLatin1(measure).leftJustified(17)
             << QString::number(medianOf(values), 'f', 1).leftJustified(9) << joinValues(values) << "\n";
    };
    row(clientName, "up Mbit/s", client.up);
    row(handName, "up Mbit/s", hand.up);
    row(clientName, "down Mbit/s", client.down);
    row(handName, "down Mbit/s", hand.down);
    row(clientName, "connect ms", client.connectMs);
    row(handName, "connect ms", hand.connectMs);
    const auto ratio = [](const QList<double> &a, const QList<double> &b) {
        return medianOf(b) > 0 ? QString::number(medianOf(a) / medianOf(b), 'f', 2) : QStringLiteral("n/a");
    };
    text << "ratios " << clientName << "/" << handName << ": up " << ratio(client.up, hand.up) << ", down "
         << ratio(client.down, hand.down) << ", connect time " << ratio(client.connectMs, hand.connectMs) << "\n";
    text.flush();
    printComparison(key + QStringLiteral(".upload"), client.up, hand.up, "Mbit/s");
    printComparison(key + QStringLiteral(".download"), client.down, hand.down, "Mbit/s");
    printComparison(key + QStringLiteral(".connect"), client.connectMs, hand.connectMs, "ms");
    return summary;
}

} // namespace TavrixBench
