// The Run/Stop buttons: what each does when pressed, and its title.

#include "app/RunControl.h"

#include "app/AppController.h"

RunControl::RunControl(AppController &controller, QObject *parent) : QObject(parent), m_c(controller) { }

RunControl::~RunControl()
{
    // A run still under way goes with its tools, telling the controller
    // being torn down nothing.
    if (m_pipeline)
        m_pipeline->disconnect(this);
    delete m_pipeline.data();
}

void RunControl::setStopBounds(int graceMs, int drainMs)
{
    m_graceMs = graceMs;
    m_drainMs = drainMs;
}

void RunControl::setStatus(const QString &text)
{
    m_c.setStatusText(text);
}

void RunControl::forgetRun()
{
    m_pendingStart.reset();
    m_outcome.clear();
}

void RunControl::probeAnswered()
{
    if (!m_pendingStart)
        return;
    const PendingStart p = *m_pendingStart;
    m_pendingStart.reset();
    if (m_c.session().refusal().isEmpty())
        QMetaObject::invokeMethod(
            this,
            [this, p] {
                if (m_pendingStart || runInProgress())
                    return;
                beginRun(p.button, p.stopAction, p.detect, p.remove, p.erase, p.automatic);
            },
            Qt::QueuedConnection);
}

void RunControl::setButton(RunButton button, Action action)
{
    m_actions[size_t(button)] = action;
    emit buttonsChanged();
}

bool RunControl::buttonStops(RunButton button) const
{
    const Action a = buttonAction(button);
    return a == Action::AutoStop || a == Action::DetectStop || a == Action::RemoveStop;
}

QString RunControl::buttonTitle(RunButton button) const
{
    return buttonStops(button) ? QStringLiteral("Stop") : QStringLiteral("Run");
}

void RunControl::performButtonAction(RunButton button)
{
    switch (buttonAction(button)) {
    case Action::AutoStart:
        autoStart();
        break;
    case Action::DetectStart:
        detectStart();
        break;
    case Action::RemoveStart:
        removeStart();
        break;
    case Action::AutoStop:
    case Action::DetectStop:
    case Action::RemoveStop:
        stopRun();
        break;
    }
}
