#pragma once

#include "jobs/BatchQueue.h"

#include <QVariantMap>

#include <vector>

// How far the queue is and how much of the machine it takes: its states
// in words, its share done, and how many detections run side by side.
class QueueTally
{
public:
    static QString stateName(BatchQueue::State state);
    // Done succeeded, Failed failed, Stopped was stopped; any other has
    // not ended.
    static Outcome::Status outcomeStatus(BatchQueue::State state);
    // 0 to 1, each recording weighing alike (its detection half, its cut
    // half); one waiting for the user counts as far as it can go without
    // them when reviewFirst.
    static double fractionDone(const std::vector<const BatchQueue::Entry *> &entries, bool reviewFirst);
    // One detection a core, each as many cores as comskip's thread_count
    // asks (none set counts as one).
    static int defaultDetectionSlots(const QVariantMap &detectorSettings);
    // The settings for one of detectionsAtOnce detections running side by
    // side: the cores shared among them, unless comskip's thread_count is set.
    static QVariantMap withSharedCores(QVariantMap detectorSettings, int detectionsAtOnce);
};
