// Tool output: every chunk goes to the run log; progress chunks drive the
// running step's progress row, the others are kept as excerpts.

#include "app/AppController.h"

#include "progress/ProgressIndicator.h"

namespace {
// Nothing reads the excerpts back; a tool that floods its output must not
// make them grow without end.
constexpr qsizetype kMaxExcerpts = 256 * 1024;
} // namespace

void AppController::openLogFile()
{
    m_logFile.close();
    if (m_outDir.isEmpty())
        return;
    m_logFile.setFileName(m_outDir + QLatin1Char('/') + logFileName);
    // The old log is replaced by a new file rather than truncated: ext4
    // writes a truncated-and-rewritten file back when it is closed, which
    // held the window for ~100 ms after a run with a 200 MB log. Removing
    // the name takes a planted link away, not what it points at, and the
    // new file is made exclusively, so no link is ever written through.
    QFile::remove(m_logFile.fileName());
    // A missing or read-only directory means no run log, and no failure.
    if (m_logFile.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered))
        recordWorkFiles({logFileName});
}

void AppController::closeLogFile()
{
    m_logFile.close();
}

void AppController::appendOutput(const QString &output)
{
    if (m_logFile.isOpen())
        m_logFile.write(output.toUtf8());
    // ffmpeg tells how far its copy has got in seconds of output; the
    // row shows that against the length the copy will have.
    if (m_processState == kStateRemoving && m_cutter == media::Cutter::Ffmpeg) {
        if (const std::optional<double> done = media::scanFfmpegProgress(output)) {
            if (m_activeProgressIndicator && m_keptSeconds > 0)
                m_activeProgressIndicator->setPercent(qBound(0.0, 100.0 * *done / m_keptSeconds, 100.0));
            return;
        }
    }
    const results::ProgressScan scan = results::scanProgressChunk(output);
    if (!scan.isProgress) {
        m_logExcerpts += output;
        if (m_logExcerpts.size() > kMaxExcerpts)
            m_logExcerpts.remove(0, m_logExcerpts.size() - kMaxExcerpts / 2);
        return;
    }
    if (scan.percent && m_activeProgressIndicator)
        m_activeProgressIndicator->setPercent(double(*scan.percent));
}
