#pragma once

#include "jobs/BatchQueue.h"

#include <QHash>
#include <QList>
#include <QString>

// The queue kept across a restart, under the user's XDG state folder: the
// recordings that wait for detection, for review or for their cut, and
// those stopped before they were done. What has ended (done, failed) is
// not kept; it is on disk or said.
namespace queuestore {

struct Saved
{
    QString recording;
    QString output; // as settled for it; empty until it was read
    RunRequest::Mode mode = RunRequest::Mode::Cut;
    BatchQueue::State state = BatchQueue::State::Waiting;
    QString profile; // the row's detector profile; empty (or absent, as older files have it): the defaults
};

// $XDG_STATE_HOME/trimlet/queue.json, by default under ~/.local/state.
QString defaultPath();
// held: rows the queue cannot say how to go on with (its id to the row
// as it goes on), written as given: a recording not found that is kept
// for when its disk is back, one stopped, with the state it had.
bool save(const BatchQueue &queue, const QString &path, const QHash<int, Saved> &held = {});
QList<Saved> load(const QString &path);
// What a saved recording comes back as: one whose detection lies beside
// it waits for review or its cut as before; one whose lists vanished, or
// that was under way, waits to be detected again.
BatchQueue::State restoredState(const Saved &saved);

} // namespace queuestore
