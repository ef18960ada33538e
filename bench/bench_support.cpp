// SPDX-License-Identifier: GPL-3.0-or-later

// The benchmark's shared helpers: the generated database of realistic record
// lines, the timing and the medians, the check that stops a run, and the
// child-report protocol on both of its sides.
#include "bench/bench_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include "record_store/record_store.h"

namespace Bench {

const QString kSelective = QStringLiteral("MAX232");
const QString kNothing = QStringLiteral("qzx");

namespace {

struct Component
{
    QString type;
    QStringList items;
};

QStringList valuesWithUnits(const QStringList &mantissas, const QStringList &units)
{
    QStringList values;
    for (const QString &unit : units) {
        for (const QString &mantissa : mantissas)
            values << mantissa + unit;
    }
    return values;
}

QList<Component> components()
{
    const QStringList e12 = {"1",   "1.2", "1.5", "1.8", "2.2", "2.7",
                             "3.3", "3.9", "4.7", "5.6", "6.8", "8.2"};
    const QStringList e6 = {"1", "2.2", "4.7", "10", "22", "47", "100", "220", "470"};
    return {
        {"Resistor", valuesWithUnits(e12, {QStringLiteral("Ω"), QStringLiteral("0Ω"),
                                           QStringLiteral("00Ω"), "k", "0k", "00k", "M"})},
        {"Capacitor", valuesWithUnits(e6, {"pF", "nF", QStringLiteral("µF"),
                                           QStringLiteral("µF 25V"), QStringLiteral("µF 63V")})},
        {"Inductor", valuesWithUnits(e6, {QStringLiteral("µH"), "mH"})},
        {"Transistor",
         {"BC547B", "BC557B", "BC337-40", "2N2222A", "2N3904", "2N3906", "BD139", "BD140", "TIP120",
          "IRF540N", "IRLZ44N", "BS170"}},
        {"RF Transistor", {"BFR91A", "BFR96S", "BFG135", "2SC3355", "BF199", "MRF237"}},
        {"Xtal", {"4MHz", "8MHz", "12MHz", "16MHz", "20MHz", "32.768kHz", "14.318MHz", "27MHz"}},
        {"Resonator", {"CSTCE8M00G", "CSTCE16M0V", "4MHz ceramic", "455kHz ceramic"}},
        {"Socket", {"DIL8", "DIL14", "DIL16", "DIL28 narrow", "DIL40", "PLCC44", "ZIF28"}},
        {"IC",
         {"NE555", "LM358", "LM324", "74HC595", "74HC00", "CD4017", "LM7805", "LM317T", "TL072",
          "ULN2003A"}},
        {"MicroChip",
         {"ATmega328P", "ATtiny85", "PIC16F84A", "PIC12F675", "STM32F103C8T6", "ESP32-WROOM-32"}},
        {"Other",
         {"Fuse 2A", "Heatsink TO-220", "Relay 12V", "Ferrite bead", "Buzzer 5V",
          QStringLiteral("LED red 5mm, 20mA @ 25°C"), "Pin header 2.54"}},
    };
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

QString generateDatabase(int records)
{
    const QList<Component> parts = components();
    QRandomGenerator random(20261208);
    QString text;
    text.reserve(qsizetype(records) * 64);
    for (int k = 0; k < records; ++k) {
        const QString box =
            QChar(char16_t(u'A' + random.bounded(26))) + QString::number(1 + random.bounded(99));
        const QString count = QString::number(random.bounded(1000));
        if (random.bounded(1000) == 0) {
            text += RecordStore::ComposeRecordLine(box, random.bounded(2) ? "MAX232CPE" : "MAX232N",
                                                   count, "IC");
            continue;
        }
        const Component &part = parts[random.bounded(int(parts.size()))];
        text += RecordStore::ComposeRecordLine(
            box, part.items[random.bounded(int(part.items.size()))], count, part.type);
    }
    return text;
}

void fail(const QString &what)
{
    std::fprintf(stderr, "stockbook_bench: %s\n", qPrintable(what));
    std::exit(2);
}

void check(bool condition, const QString &what)
{
    if (!condition)
        fail(what);
}

qsizetype lineCount(const QString &text)
{
    return text.count(QLatin1String("\r\n"));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("cannot read " + path);
    return file.readAll();
}

double timeOnceMs(const std::function<void()> &prepare, const std::function<void()> &run)
{
    prepare();
    QElapsedTimer timer;
    timer.start();
    run();
    return double(timer.nsecsElapsed()) / 1e6;
}

QList<double> mediansInTurnsMs(int reps, const QList<std::function<double()>> &timings)
{
    QList<QList<double>> times(timings.size());
    for (int k = 0; k <= reps; ++k) {
        for (qsizetype t = 0; t < timings.size(); ++t) {
            const double ms = timings[t]();
            if (k > 0)
                times[t] << ms;
        }
    }
    QList<double> medians;
    for (const QList<double> &each : times)
        medians << median(each);
    return medians;
}

double medianMs(int reps, const std::function<void()> &prepare, const std::function<void()> &run,
                int batch)
{
    const auto runBatch = [&] {
        for (int b = 0; b < batch; ++b)
            run();
    };
    return mediansInTurnsMs(reps, {[&] {
                                return timeOnceMs(prepare, runBatch) / batch;
                            }})
        .first();
}

double medianMs(int reps, const std::function<void()> &run, int batch)
{
    return medianMs(
        reps, [] {}, run, batch);
}

std::pair<double, double> pairedMedianMs(int reps, const std::function<void()> &prepareA,
                                         const std::function<void()> &runA,
                                         const std::function<void()> &prepareB,
                                         const std::function<void()> &runB)
{
    const QList<double> medians =
        mediansInTurnsMs(reps, {[&] { return timeOnceMs(prepareA, runA); },
                                [&] {
                                    return timeOnceMs(prepareB, runB);
                                }});
    return {medians[0], medians[1]};
}

void report(const char *key, double value)
{
    std::printf("%s %.6f\n", key, value);
    std::fflush(stdout);
}

Figures runChild(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        fail("the child " + arguments.join(' ') + " failed");
    Figures figures;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 2)
            figures[QString::fromLatin1(words[0])] = words[1].toDouble();
    }
    return figures;
}

} // namespace Bench
