// Asking, measured in-process on the offscreen platform against a local
// server that answers at once: Return -> answer rows painted (minus the
// server's own time), the same through a reply script (process start
// included), memory over 1,000 asks, a long answer painted and the toggle
// (dismiss + present, painted) beside it, and CPU while shown and polling,
// with an empty task list and with tasks that all change at every poll.
//   QT_QPA_PLATFORM=offscreen ask_probe [POLL_SECONDS] [ROWS] [TASKS]

#include "bridge/agentclient.h"
#include "palette/palette.h"
#include "tests/testkit/httpserver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using ostrel::testing::HttpReply;
using ostrel::testing::HttpRequest;

namespace {

qint64 serverNs = 0;
QByteArray answer = R"({"lines":[{"title":"1068","subtitle":"12*89"}]})";
int taskCount = 0;
int pollNumber = 0;

QByteArray taskList()
{
    QByteArray list = R"({"tasks":[)";
    ++pollNumber;
    for (int i = 0; i < taskCount; ++i)
        list += (i ? "," : "") + QByteArray(R"({"id":"t)") + QByteArray::number(i) +
                R"(","title":"Task )" + QByteArray::number(i) + " step " +
                QByteArray::number(pollNumber) + R"(","status":"running"})";
    return list + "]}";
}

double residentMb()
{
    QFile statm(u"/proc/self/statm"_s);
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return double(fields.value(1).toLongLong() * sysconf(_SC_PAGESIZE)) / 1e6;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One ask: Return in the field, then the loop runs until the answer row is
// on show and painted. Milliseconds, minus the server's time.
double askOnce(ostrel::Palette &palette, QLineEdit *field, int n)
{
    field->setText(u"12*89 #"_s + QString::number(n));
    serverNs = 0;
    QElapsedTimer clock;
    clock.start();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    palette.handleKey(&key);
    while (palette.results().value(0).title != u"1068"_s) {
        if (palette.results().value(0).title.startsWith(u"Could not"_s)) {
            std::fprintf(stderr, "ask_probe: %s\n",
                         qPrintable(palette.results().value(0).subtitle));
            std::exit(1);
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    palette.repaint();
    const double ms = double(clock.nsecsElapsed() - serverNs) / 1e6;
    // Outside exec() nothing runs deferred deletions; the application's own
    // event loop does, after every event.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ms;
}

void report(const char *what, QList<double> samples, const char *unit = "asks")
{
    std::sort(samples.begin(), samples.end());
    std::printf("%-40s median %.2f ms  p95 %.2f ms  max %.2f ms  (%lld %s)\n", what,
                samples[samples.size() / 2], samples[samples.size() * 95 / 100], samples.last(),
                qlonglong(samples.size()), unit);
}

// Hide and show again, until the panel has painted.
double toggleOnce(ostrel::Palette &palette)
{
    QElapsedTimer clock;
    clock.start();
    palette.dismiss();
    QCoreApplication::processEvents();
    palette.present();
    QCoreApplication::processEvents();
    palette.repaint();
    return double(clock.nsecsElapsed()) / 1e6;
}

// CPU of the whole process over the wall time of a stretch of polling; then
// five toggles a second apart, each after a poll has come in.
void pollFor(ostrel::Palette &palette, ostrel::testing::HttpServer &server, int seconds,
             const char *what)
{
    const auto runFor = [](int ms) {
        QEventLoop idle;
        QTimer::singleShot(ms, &idle, &QEventLoop::quit);
        idle.exec();
    };
    QElapsedTimer wall;
    wall.start();
    const double cpu = cpuSeconds();
    const qsizetype polls = server.count("/tasks");
    runFor(seconds * 1000);
    std::printf("%-40s %.2f %% of a core (%lld polls in %d s, server included)\n", what,
                100.0 * (cpuSeconds() - cpu) / (double(wall.elapsed()) / 1000.0),
                qlonglong(server.count("/tasks") - polls), seconds);
    QList<double> toggles;
    for (int i = 0; i < 5; ++i) {
        runFor(1000);
        toggles << toggleOnce(palette);
    }
    report("  toggle while polling -> painted", toggles, "toggles");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int pollSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int longRows = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int changingTasks = argc > 3 ? std::atoi(argv[3]) : 1000;
    QTemporaryDir dir;
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("OSTREL_REPO", QFile::encodeName(dir.path()));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QDir().mkpath(dir.filePath(u".ostrel"_s));

    ostrel::testing::HttpServer server;
    server.setHandler([](const HttpRequest &request) {
        QElapsedTimer clock;
        clock.start();
        HttpReply reply{200, request.path == "/tasks" ? taskList() : answer};
        serverNs += clock.nsecsElapsed();
        return reply;
    });
    const auto useDaemon = [&](bool on) {
        QFile file(dir.filePath(u".ostrel/daemon.json"_s));
        if (!on) {
            file.remove();
            return;
        }
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(u"{\"port\":%1,\"token\":\"t\"}"_s.arg(server.port()).toUtf8());
    };
    const QString script = dir.filePath(u"node"_s);
    {
        QFile file(script);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\nprintf '{\"lines\":[{\"title\":\"1068\"}]}'\n");
    }
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);

    ostrel::Palette palette;
    ostrel::AskSettings settings;
    settings.nodePath = [script] { return std::optional(script); };
    palette.agent().setAskSettings(settings);
    auto *field = palette.findChild<QLineEdit *>();
    useDaemon(true);
    palette.present();

    for (int i = 0; i < 20; ++i)
        askOnce(palette, field, i);
    QList<double> samples;
    for (int i = 0; i < 200; ++i)
        samples << askOnce(palette, field, i);
    report("Return -> rows painted, daemon", samples);

    useDaemon(false);
    samples.clear();
    for (int i = 0; i < 50; ++i)
        samples << askOnce(palette, field, i);
    report("Return -> rows painted, reply script", samples);
    useDaemon(true);

    // Three rounds: the first grows the allocator's pools, flat after it.
    for (int round = 1; round <= 3; ++round) {
        const double before = residentMb();
        for (int i = 0; i < 1000; ++i) {
            askOnce(palette, field, i);
            // The server's record of requests is not the palette's memory.
            server.requests.clear();
        }
        std::printf(
            "%-40s %.1f MB -> %.1f MB\n",
            qPrintable(
                u"resident memory, asks %1 to %2"_s.arg((round - 1) * 1000 + 1).arg(round * 1000)),
            before, residentMb());
    }

    pollFor(palette, server, pollSeconds, "CPU while shown and polling");

    // A long answer: Return -> painted, then the toggle beside it.
    const QByteArray ordinary = answer;
    answer = R"({"lines":[{"title":"1068"})";
    for (int i = 1; i < longRows; ++i)
        answer += R"(,{"title":"row )" + QByteArray::number(i) + R"(","subtitle":"12*89"})";
    answer += "]}";
    // present() clears the field: each toggle also puts the long answer away.
    QList<double> toggles;
    samples.clear();
    for (int i = 0; i < 3; ++i) {
        samples << askOnce(palette, field, i);
        toggles << toggleOnce(palette);
    }
    report(qPrintable(u"Return -> %1 rows painted"_s.arg(longRows)), samples);
    report("  then toggle -> painted", toggles, "toggles");
    answer = ordinary;
    askOnce(palette, field, 1);
    field->clear();

    taskCount = changingTasks;
    pollFor(palette, server, pollSeconds,
            qPrintable(u"CPU polling %1 changing tasks"_s.arg(changingTasks)));
    return 0;
}
