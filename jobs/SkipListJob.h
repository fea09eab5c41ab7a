#pragma once

#include "core/RunRequest.h"
#include "jobs/Job.h"

#include <QPointer>

class RecordingMedia;

// Leaves the recording as it is and writes the approved breaks beside it
// as an EDL whose every break Kodi's player skips once (action 3), then
// reads it back: a list that does not say what was approved is not kept.
class SkipListJob : public Job
{
    Q_OBJECT
public:
    SkipListJob(const RunRequest &request, RecordingMedia *media, QObject *parent = nullptr);
    // What the run has said so far, which the step's outcome follows.
    void setOutcomeSoFar(const QString &text);
    void start() override;

    // Set once the list has been written and read back.
    const QString &listMade() const { return m_listMade; }

protected:
    void toolOutput(const QString &) override { }
    void toolEnded(int, bool, bool) override { }

private:
    RunRequest m_request;
    QPointer<RecordingMedia> m_media;
    QString m_listMade;
};
