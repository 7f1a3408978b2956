#include "app/commandline.h"
#include "app/controller.h"
#include "platform/layershell.h"
#include "platform/log.h"
#include "platform/signaltrigger.h"
#include "platform/wayland.h"

#include <QApplication>

#include <chrono>
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
    char nativeFirst[] = "wayland;xcb;offscreen";
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        // Where the compositor can show the palette as an overlay, natively
        // it is placed as a launcher is; through XWayland it would be an
        // ordinary window (sway centres it).
        const bool native = ostrel::preferNativeWayland(std::chrono::milliseconds(500));
        if (native)
            ostrel::log(QStringLiteral("the Wayland compositor has the layer shell: the palette "
                                       "runs natively (QT_QPA_PLATFORM=xcb runs it through "
                                       "XWayland)"));
        args.push_back(platformOption);
        args.push_back(native ? nativeFirst : platforms);
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
