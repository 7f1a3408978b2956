#include "app/commandline.h"
#include "app/controller.h"
#include "platform/log.h"
#include "platform/signaltrigger.h"
#include "platform/wayland.h"

#include <QApplication>

#include <csignal>
#include <vector>

// The palette's own executable, started by the `ostrel` command (which
// answers every option itself) with SIGUSR1 blocked.
int main(int argc, char *argv[])
{
    // First of all: a toggle sent while we start must neither end the
    // process nor be lost; the signal trigger reports it once installed.
    // Those that came while the front held the signal back arrive now.
    ostrel::SignalTrigger::catchEarly(SIGUSR1);
    // A log line to a standard error nobody reads any more must not end us.
    ostrel::SignalTrigger::survivePipeErrors();
    // Started by hand, it answers as the front does.
    if (const std::optional<int> status = ostrel::handleCommandLine(argc, argv))
        return *status;
    if (const std::optional<int> status = ostrel::claimOrRefuse())
        return *status;

    // Without an X server (or a Wayland one) the palette still runs on the
    // offscreen platform, so that SIGUSR1 and --toggle reach it and its log
    // tells what is missing, instead of Qt aborting.
    if (const QString missing = ostrel::missingPlatformPlugin(); !missing.isEmpty()) {
        ostrel::log(missing);
        return 1;
    }
    std::vector<char *> args(argv, argv + argc);
    char platformOption[] = "-platform";
    char platforms[] = "xcb;wayland;offscreen";
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        args.push_back(platformOption);
        args.push_back(platforms);
    }
    int count = int(args.size());
    args.push_back(nullptr);

    QApplication application(count, args.data());
    QApplication::setOrganizationName(QStringLiteral("ostrel"));
    QApplication::setApplicationName(QStringLiteral("ostrel"));
    // The palette is the only window, and hiding it must not end the process.
    QApplication::setQuitOnLastWindowClosed(false);

    ostrel::Controller controller;
    QMetaObject::invokeMethod(&controller, &ostrel::Controller::applicationDidFinishLaunching,
                              Qt::QueuedConnection);
    return QApplication::exec();
}
