#include "app/BreakReview.h"

#include "app/AppController.h"

BreakReview::BreakReview(AppController &controller, QObject *parent) : QObject(parent), m_c(controller) { }

void BreakReview::setRecording(const Recording &recording)
{
    m_recording = recording;
    m_document.setRecording(recording);
}

void BreakReview::reloadCounts()
{
    // The count and the flags follow the lists now on disk; the status
    // line is the run's to say.
    const QString status = m_c.status();
    readEDLData();
    readTXTData();
    setStatus(status);
}

void BreakReview::setStatus(const QString &text)
{
    m_c.setStatusText(text);
}

void BreakReview::setHaveResults(bool value)
{
    m_c.setHaveResults(value);
}

void BreakReview::setHaveCommercials(bool value)
{
    m_c.setHaveCommercials(value);
}
