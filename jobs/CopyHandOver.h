#pragma once

#include "core/RunRequest.h"
#include "jobs/Trash.h"

#include <QString>

// A queued recording's checked copy once its cut has ended: kept only
// while the recording is still what was read before the cut, and put in
// the recording's place where the request asks.
struct CopyHandOver
{
    bool kept = false;
    QString copy; // where the copy is now; empty when it was thrown away
    QString text; // the recording's words now

    // outcome: the run's words; read: the recording as it was read.
    static CopyHandOver of(const RunRequest &request, const QString &copy, const trash::FileState &read,
                           const QString &outcome);
};
