// Asking, measured in-process on the offscreen platform against a local
// server that answers at once: Return -> answer rows painted (minus the
// server's own time), the same through a reply script (process start
// included), CPU while shown and polling, and memory over 1,000 asks.
//   QT_QPA_PLATFORM=offscreen ask_probe [POLL_SECONDS]

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

void report(const char *what, QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    std::printf("%-40s median %.2f ms  p95 %.2f ms  (%lld asks)\n", what,
                samples[samples.size() / 2], samples[samples.size() * 95 / 100],
                qlonglong(samples.size()));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int pollSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    QTemporaryDir dir;
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("OSTREL_REPO", QFile::encodeName(dir.path()));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QDir().mkpath(dir.filePath(u".ostrel"_s));

    ostrel::testing::HttpServer server;
    server.setHandler([](const HttpRequest &request) {
        QElapsedTimer clock;
        clock.start();
        HttpReply reply{200,
                        request.path == "/tasks"
                            ? QByteArray(R"({"tasks":[]})")
                            : QByteArray(R"({"lines":[{"title":"1068","subtitle":"12*89"}]})")};
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

    QElapsedTimer wall;
    wall.start();
    const double cpu = cpuSeconds();
    const qsizetype polls = server.count("/tasks");
    QEventLoop idle;
    QTimer::singleShot(pollSeconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    std::printf("%-40s %.2f %% of a core (%lld polls in %d s, server included)\n",
                "CPU while shown and polling",
                100.0 * (cpuSeconds() - cpu) / (double(wall.elapsed()) / 1000.0),
                qlonglong(server.count("/tasks") - polls), pollSeconds);
    return 0;
}
