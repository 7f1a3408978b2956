#include "app/controller.h"

#include "app/log.h"
#include "palette/palette.h"
#include "platform/signaltrigger.h"

#include <QCoreApplication>

#include <csignal>

using namespace Qt::StringLiterals;

namespace ostrel {
namespace {

QString boolText(bool value) { return value ? u"true"_s : u"false"_s; }

} // namespace

Controller::Controller() = default;
Controller::~Controller() = default;

void Controller::applicationDidFinishLaunching()
{
    // The global hot key, the accessibility check and the key monitors take
    // their places here, in that order, before the signal trigger.
    installSignalTrigger();
    log(u"ready pid="_s + QString::number(QCoreApplication::applicationPid()));
}

Palette &Controller::palette()
{
    if (!m_palette)
        m_palette = std::make_unique<Palette>();
    return *m_palette;
}

void Controller::toggle()
{
    Palette &panel = palette();
    const bool visible = panel.isVisible();
    log(u"toggle, visible="_s + boolText(visible));
    if (visible)
        panel.dismiss();
    else
        panel.present();
}

void Controller::installSignalTrigger()
{
    m_signalSource = std::make_unique<SignalTrigger>(SIGUSR1);
    connect(m_signalSource.get(), &SignalTrigger::triggered, this, &Controller::toggle);
}

} // namespace ostrel
