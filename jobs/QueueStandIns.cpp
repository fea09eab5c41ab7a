// A recording whose name is not UTF-8 in the queue: the window's names come
// as rawnames::escaped() text, which no tool could be handed.

#include "core/PathText.h"
#include "jobs/BatchQueueSlot.h"
#include "jobs/Recording.h"

#include <QDir>
#include <QFileInfo>

bool BatchQueue::runUnderStandIn(int id)
{
    Slot &s = slot(id);
    Entry &e = s.entry;
    e.named = QDir::cleanPath(QFileInfo(e.request.recording).absoluteFilePath());
    QString why;
    if (e.request.replace)
        why = QStringLiteral("its copy cannot take such a name in its place");
    else
        s.standIn = rawnames::StandIn::make(rawnames::bytesOf(e.named), &why);
    if (!s.standIn) {
        s.refused = true;
        emit added(id);
        fail(id, rawnames::cannotRun(rawnames::bytesOf(pathtext::lastComponent(e.named)), why));
        return false;
    }
    e.request.recording = s.standIn->recording();
    // A name settled for it before is settled again, beside the stand-in.
    if (rawnames::holdsBytes(e.request.output))
        e.request.output = e.request.mode == RunRequest::Mode::SkipList
                               ? Recording(e.request.recording).proposedOutput(QString(), e.request.mode)
                               : QString();
    return true;
}

void BatchQueue::carryOut(int id)
{
    Slot &s = slot(id);
    if (!s.standIn)
        return;
    Entry &e = s.entry;
    QString why;
    const bool whole = s.standIn->finish(e.outcome.copy, m_replaceOthers, &why);
    if (!s.standIn->copyMade().isEmpty())
        e.outcome.copy = s.standIn->copyMade();
    e.outcome.text = s.standIn->shownText(e.outcome.text);
    if (!whole) {
        e.outcome.text += QLatin1Char(' ') + why.trimmed();
        if (e.state == State::Done)
            e.state = State::Failed;
    }
    e.request.recording = e.named;
    if (!e.request.output.isEmpty())
        e.request.output = e.outcome.copy;
    s.standIn.reset();
}
