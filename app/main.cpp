#include "app/controller.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("ostrel"));
    QApplication::setApplicationName(QStringLiteral("ostrel"));
    // The palette is the only window, and hiding it must not end the process.
    QApplication::setQuitOnLastWindowClosed(false);

    ostrel::Controller controller;
    QMetaObject::invokeMethod(&controller, &ostrel::Controller::applicationDidFinishLaunching,
                              Qt::QueuedConnection);
    return QApplication::exec();
}
