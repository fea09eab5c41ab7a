#include "jobs/RecutPolicy.h"

media::Cutter RecutPolicy::first(media::Cutter chosen, bool skipMencoder, QString *logLine)
{
    m_mencoderRefused = false;
    m_note.clear();
    if (chosen != media::Cutter::Mencoder || !skipMencoder)
        return chosen;
    m_note = QStringLiteral("mencoder's copies of recordings like this one were refused earlier in "
                            "the batch, so it was cut with ffmpeg.");
    *logLine = QStringLiteral("not cutting with mencoder: its copies of recordings like this one were "
                              "refused earlier in the batch");
    return media::Cutter::Ffmpeg;
}

std::optional<media::Cutter> RecutPolicy::afterFailure(media::Cutter cutter, const QString &why)
{
    if (cutter != media::Cutter::Mencoder)
        return std::nullopt;
    return recutWithFfmpeg(why + QStringLiteral(", so it was cut with ffmpeg."));
}

std::optional<media::Cutter> RecutPolicy::afterRefusal(media::Cutter cutter,
                                                       const media::CopyVerdict &verdict)
{
    if (cutter != media::Cutter::Mencoder)
        return std::nullopt;
    return recutWithFfmpeg(QStringLiteral("mencoder's copy ") + verdict.mencoderProblem
                           + QStringLiteral(", so it was cut again with ffmpeg."));
}

std::optional<media::Cutter> RecutPolicy::recutWithFfmpeg(const QString &note)
{
    m_mencoderRefused = true;
    m_note = note;
    return media::Cutter::Ffmpeg;
}
