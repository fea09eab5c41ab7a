#pragma once

// What the queue holds of each recording beside what it tells: its reading,
// its pipeline, its lock and its stand-in. For BatchQueue's own files.

#include "jobs/BatchQueue.h"
#include "jobs/RawNames.h"
#include "jobs/RecordingLock.h"
#include "jobs/RecordingMedia.h"
#include "jobs/RunPipeline.h"
#include "jobs/Trash.h"

#include <QPointer>

#include <memory>

struct BatchQueue::Slot
{
    Entry entry;
    std::unique_ptr<RecordingMedia> media;
    QPointer<RunPipeline> run;
    // Held from its detection's start to its cut's end, the wait between
    // included: another Trimlet on the recording would take its lists.
    std::shared_ptr<RecordingLock> lock;
    // Failed before it was ever queued: nothing of it is compared with the
    // others.
    bool refused = false;
    // The recording as it was when last read, for its copy to take its
    // place only while it is still that.
    trash::FileState read;
    // Where its name is not UTF-8: the name it runs under until it ends.
    std::unique_ptr<rawnames::StandIn> standIn;
};
