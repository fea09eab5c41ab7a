#pragma once

#include "core/CopyVerdict.h"
#include "core/MediaInfo.h"
#include "core/RunRequest.h"

#include <QString>

#include <optional>

// mencoder cannot cut between key frames and its copies drift: where it
// failed or its copy was refused, ffmpeg cuts the recording once more, and
// the note says why before the outcome. Where mencoder's copies of
// recordings like this one were refused earlier in the batch, ffmpeg cuts
// it at once, in the container the output's name was chosen for.
class RecutPolicy
{
public:
    // The cutter to start with in place of chosen; logLine is set to what
    // the run log is told when it is not chosen.
    media::Cutter first(media::Cutter chosen, bool skipMencoder, QString *logLine);
    // After cutter failed (why: "mencoder failed (error 1)"), the cutter to
    // cut again with; none when the failure is the step's end.
    std::optional<media::Cutter> afterFailure(media::Cutter cutter, const QString &why);
    // After the copy cutter made was refused.
    std::optional<media::Cutter> afterRefusal(media::Cutter cutter, const media::CopyVerdict &verdict);

    // Whether cutter cuts to the picture for request: where it was asked
    // for, and wherever ffmpeg cuts in the place of a mencoder that was
    // asked for (its copy refused, it failed, it cannot take the recording,
    // or its copies of such recordings were refused earlier).
    static bool toThePicture(media::Cutter cutter, const RunRequest &request)
    {
        return cutter != media::Cutter::Mencoder && (request.frameExact || request.mencoderCutter);
    }

    // mencoder failed or its copy was refused, whatever ffmpeg made after it.
    bool mencoderRefused() const { return m_mencoderRefused; }
    // Why the copy was not mencoder's, to go before the outcome; empty
    // when it was cut as chosen.
    const QString &note() const { return m_note; }

private:
    std::optional<media::Cutter> recutWithFfmpeg(const QString &note);

    bool m_mencoderRefused = false;
    QString m_note;
};
