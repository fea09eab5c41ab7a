#pragma once

#include "jobs/BatchQueue.h"

#include <QList>
#include <QString>

// The queue kept across a restart, under the user's XDG state folder: the
// recordings that wait for detection, for review or for their cut. What
// has ended (done, failed, stopped) is not kept; it is on disk or said.
namespace queuestore {

struct Saved
{
    QString recording;
    QString output; // as settled for it; empty until it was read
    RunRequest::Mode mode = RunRequest::Mode::Cut;
    BatchQueue::State state = BatchQueue::State::Waiting;
};

// $XDG_STATE_HOME/trimlet/queue.json, by default under ~/.local/state.
QString defaultPath();
bool save(const BatchQueue &queue, const QString &path);
QList<Saved> load(const QString &path);
// What a saved recording comes back as: one whose detection lies beside
// it waits for review or its cut as before; one whose lists vanished, or
// that was under way, waits to be detected again.
BatchQueue::State restoredState(const Saved &saved);

} // namespace queuestore
