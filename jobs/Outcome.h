#pragma once

#include <QString>
#include <QStringList>

// What a step, a run or a queued recording came to, as facts. The status
// line's words are kept with them as the step wrote them, and nothing reads
// the words back to learn a fact: trimlet-cli's summary and the queue's
// rows are written from the facts.
struct Outcome
{
    enum class Status { None, Succeeded, Failed, Stopped };

    Status status = Status::None;
    // The cutter that made the kept copy ("mencoder", "ffmpeg"); empty
    // when no copy was kept.
    QString cutter;
    // mencoder failed, or its copy was refused, whatever ffmpeg made after.
    bool mencoderRefused = false;
    // The checked copy, once it has taken its name: with replace, the
    // recording's own.
    QString copy;
    double keptSeconds = 0; // of the recording, in the copy
    int breaksFound = 0; // in the detector's list
    int breaksCut = 0; // in the copy's cut list, overlapping ones merged
    // Why it failed or was stopped, without what went well before it;
    // empty when it did not.
    QString refusal;
    // What the user should know of a copy that was kept all the same (cut
    // again by ffmpeg; a transport stream where a program stream was cut).
    QStringList warnings;
    // The status line's words.
    QString text;

    bool failed() const { return status == Status::Failed; }
};
