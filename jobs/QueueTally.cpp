#include "jobs/QueueTally.h"

#include <QThread>

#include <algorithm>

QString QueueTally::stateName(BatchQueue::State state)
{
    using State = BatchQueue::State;
    switch (state) {
    case State::Waiting:
        return QStringLiteral("waiting");
    case State::Detecting:
        return QStringLiteral("detecting");
    case State::Detected:
        return QStringLiteral("detected");
    case State::ReadyForReview:
        return QStringLiteral("ready for review");
    case State::Approved:
        return QStringLiteral("approved");
    case State::Cutting:
        return QStringLiteral("cutting");
    case State::Done:
        return QStringLiteral("done");
    case State::Failed:
        return QStringLiteral("failed");
    case State::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}

Outcome::Status QueueTally::outcomeStatus(BatchQueue::State state)
{
    switch (state) {
    case BatchQueue::State::Done:
        return Outcome::Status::Succeeded;
    case BatchQueue::State::Failed:
        return Outcome::Status::Failed;
    case BatchQueue::State::Stopped:
        return Outcome::Status::Stopped;
    default:
        return Outcome::Status::None;
    }
}

double QueueTally::fractionDone(const std::vector<const BatchQueue::Entry *> &entries, bool reviewFirst)
{
    using State = BatchQueue::State;
    double sum = 0;
    for (const BatchQueue::Entry *e : entries) {
        const double step = std::max(0.0, e->percent) / 100;
        const double detectShare = e->request.remove ? (e->existingDetection ? 0.0 : 0.5) : 1.0;
        switch (e->state) {
        case State::Waiting:
            break;
        case State::Detecting:
            sum += detectShare * step;
            break;
        case State::Detected:
        case State::Approved:
            sum += detectShare;
            break;
        case State::ReadyForReview:
            sum += reviewFirst ? 1 : detectShare;
            break;
        case State::Cutting:
            sum += detectShare + (1 - detectShare) * step;
            break;
        case State::Done:
        case State::Failed:
        case State::Stopped:
            sum += 1;
            break;
        }
    }
    return entries.empty() ? 0 : sum / double(entries.size());
}

int QueueTally::defaultDetectionSlots(const QVariantMap &detectorSettings)
{
    const int threads = std::max(1, detectorSettings.value(QStringLiteral("thread_count")).toInt());
    return std::max(1, QThread::idealThreadCount() / threads);
}

QVariantMap QueueTally::withSharedCores(QVariantMap detectorSettings, int detectionsAtOnce)
{
    // comskip left to choose starts decoding threads of its own, which
    // only contend with a detection on each core: two at once, on two
    // cores, each took a core and a quarter and the pair ran slower than
    // with one thread each. A count the user set is theirs.
    QVariant &threads = detectorSettings[QStringLiteral("thread_count")];
    if (detectionsAtOnce > 1 && threads.toString().isEmpty())
        threads = std::max(1, QThread::idealThreadCount() / detectionsAtOnce);
    return detectorSettings;
}

// BatchQueue's answers that are the tally's, defined beside it.
QString BatchQueue::stateName(State state)
{
    return QueueTally::stateName(state);
}

int BatchQueue::defaultDetectionSlots(const QVariantMap &detectorSettings)
{
    return QueueTally::defaultDetectionSlots(detectorSettings);
}

double BatchQueue::fractionDone() const
{
    // Refused recordings too: each has ended.
    std::vector<const Entry *> all;
    for (const int id : ids())
        all.push_back(&entry(id));
    return QueueTally::fractionDone(all, m_reviewFirst);
}
