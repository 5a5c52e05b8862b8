// The desktop program's run against quillet-batch on the same files and settings, and the
// longest time the window thread goes without handling an event during a run.
//
//   QT_QPA_PLATFORM=offscreen build/bench/dialog_run PHOTOS [ROUNDS]
//
// START is pressed in the real main dialog (offscreen), with the stored settings at their
// first-run defaults and "Jobs" 0; quillet-batch gets -j <cores> and its own defaults, which
// are those same settings. Rounds alternate which side goes first; medians are compared.
#include "gui/controls.h"
#include "gui/main_dialog.h"
#include "gui/qsettings_store.h"
#include "pxlib.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Presses START in a fresh main dialog over `in` into `out`; the seconds the run took.
double DialogRun(const QString& in, const QString& out, const std::function<void()>& atStart = {})
{
    QSettings settings(QStringLiteral("Brackenfold"), QStringLiteral("Quillet"));
    settings.clear();
    settings.setValue("Settings/PathIn", in);
    settings.setValue("Settings/PathOut", out);
    settings.sync();
    quillet::gui::QtSettingsStore store;
    CMainDialog dialog(store);
    dialog.show();
    QApplication::processEvents();
    if (atStart)
        atStart();
    QElapsedTimer clock;
    clock.start();
    quillet::gui::FindControl<QPushButton>(&dialog, 1015)->click();  // returns when the run has ended
    return clock.nsecsElapsed() / 1e9;
}

double ShellRun(const QString& in, const QString& out, unsigned jobs)
{
    QElapsedTimer clock;
    clock.start();
    const int status = QProcess::execute(QStringLiteral(QUILLET_BATCH),
                                         {QStringLiteral("--quiet"), QStringLiteral("-j"), QString::number(jobs), in, out});
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (status != 0)
        std::fprintf(stderr, "quillet-batch ended with %d\n", status);
    return seconds;
}

bool SameFiles(const QString& a, const QString& b)
{
    const QStringList names = QDir(a).entryList(QDir::Files, QDir::Name);
    if (names != QDir(b).entryList(QDir::Files, QDir::Name))
        return false;
    for (const QString& name : names) {
        QFile x(a + "/" + name), y(b + "/" + name);
        if (!x.open(QIODevice::ReadOnly) || !y.open(QIODevice::ReadOnly) || x.readAll() != y.readAll())
            return false;
    }
    return true;
}

// A picture that takes seconds to become a thumbnail: a large JPEG.
void WriteLargePicture(const QString& path, int side)
{
    QImage image(side, side, QImage::Format_RGB888);
    for (int y = 0; y < side; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < side; ++x) {
            row[3 * x] = uchar(x * 255 / side);
            row[3 * x + 1] = uchar(y * 255 / side);
            row[3 * x + 2] = uchar((x ^ y) & 0xFF);
        }
    }
    image.save(path, "JPG", 90);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    InitializeLibrary();
    if (argc < 2) {
        std::fprintf(stderr, "usage: dialog_run PHOTOS [ROUNDS]\n");
        return 2;
    }
    const QString photos = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    QTemporaryDir scratch;

    std::vector<double> dialog, shell;
    bool same = true;
    for (int round = 0; round < rounds; ++round) {
        const QString a = scratch.path() + QStringLiteral("/dialog%1").arg(round);
        const QString b = scratch.path() + QStringLiteral("/shell%1").arg(round);
        QDir().mkpath(a);
        QDir().mkpath(b);
        if (round % 2 == 0) {
            dialog.push_back(DialogRun(photos, a));
            shell.push_back(ShellRun(photos, b, cores));
        } else {
            shell.push_back(ShellRun(photos, b, cores));
            dialog.push_back(DialogRun(photos, a));
        }
        same = same && SameFiles(a, b);
        QDir(a).removeRecursively();
        QDir(b).removeRecursively();
    }
    const int files = int(QDir(photos).entryList({QStringLiteral("*.jpg"), QStringLiteral("*.JPG")}, QDir::Files).size());
    QFile load(QStringLiteral("/proc/loadavg"));
    const QByteArray loadText = load.open(QIODevice::ReadOnly) ? load.readLine().trimmed() : QByteArray("?");
    std::printf("%d files, %u cores, %d rounds (medians); load average %s\n", files, cores, rounds,
                loadText.constData());
    std::printf("dialog run              %.3f s\n", Median(dialog));
    std::printf("quillet-batch -j %-6u  %.3f s\n", cores, Median(shell));
    std::printf("ratio dialog / shell    %.3f   (target <= 1.1)\n", Median(dialog) / Median(shell));
    std::printf("same thumbnails, byte for byte: %s\n", same ? "yes" : "NO");

    // The window thread's longest stall: a probe timer during a run that holds a large picture.
    const QString mixed = scratch.path() + "/mixed";
    QDir().mkpath(mixed);
    for (const QString& name : QDir(photos).entryList({QStringLiteral("*.jpg")}, QDir::Files))
        QFile::copy(photos + "/" + name, mixed + "/" + name);
    WriteLargePicture(mixed + "/large.jpg", 14000);
    QElapsedTimer probeClock;
    qint64 last = 0, longest = 0;
    QTimer probe;
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = probeClock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    const QString out = scratch.path() + "/stall";
    QDir().mkpath(out);
    const double seconds = DialogRun(mixed, out, [&] {
        probeClock.start();
        probe.start();
    });
    probe.stop();
    const qint64 duringRun = longest;
    // The same probe for as long with no run: what the machine's other load alone costs.
    longest = 0;
    last = 0;
    probeClock.start();
    probe.start();
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < qint64(seconds * 1000))
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    probe.stop();
    std::printf("run with a 14000 x 14000 picture: %.2f s; longest window stall %.1f ms   (target < 100 ms)\n",
                seconds, duringRun / 1e6);
    std::printf("the same probe with no run: longest stall %.1f ms\n", longest / 1e6);
    ShutdownLibrary();
    return same ? 0 : 1;
}
