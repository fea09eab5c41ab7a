#pragma once

#include "core/RunRequest.h"

#include "core/Commercial.h"
#include "core/EdgeMarks.h"
#include "core/ResultParsers.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// A recording and the detector's results beside it, read into values a
// view can hold: the frame list, the cut list's count and the per-frame
// table folded into chart points.
class Recording
{
public:
    // The per-frame table folded into at most results::kMaxChartPoints
    // points of kMaxDataCols values, and each column's [min, max].
    struct Chart
    {
        std::vector<int> values;
        std::array<int, results::kMaxDataCols * 2> ranges{};
        QStringList labels; // empty where the table has no header
        bool headerRead = false;
        int pointCount = 0;
        float chunkSize = 0;
    };
    enum class ChartLoad { Loaded, NoTable, NoData, NoMemory };

    Recording() = default;
    explicit Recording(const QString &path);

    const QString &path() const { return m_path; }
    // The recording's folder, where the work files lie.
    const QString &outDir() const { return m_outDir; }
    // Its name without folder and extension: the work files' stem.
    const QString &baseName() const { return m_baseName; }
    QString workFile(const QString &extension) const;
    // Why comskip may not run on it, in words; empty when it may. comskip
    // writes its results under the recording's own name with its own
    // extensions: a recording called "show.txt" would be overwritten. Nor
    // may a name that comskip or the file system cannot hold.
    QString detectionRefusal() const;
    // Why a run cannot write its work files (the lists, the run's record
    // of them, their hidden staging and set-aside names) beside it: a name
    // longer than the folder's file system takes. Empty when they fit.
    QString workFileNameRefusal() const;
    // Why a copy cannot be written under output: the hidden partial copy
    // the cutter writes must fit the file system as well as the name.
    static QString copyNameRefusal(const QString &output);
    // The longest path without its extension that comskip takes: it
    // builds names from it in fixed buffers, and a longer one overflows
    // them (measured on Debian's comskip 0.82.011: 247 bytes abort it).
    static constexpr int kComskipStemMax = 246;
    // The work file's bytes; empty, and opened false, when it cannot be read.
    QByteArray read(const QString &extension, bool *opened = nullptr) const;
    // Where a run's output goes by default, beside the recording: NAME.clean.EXT
    // for a cut copy (EXT the container's), NAME.chapters.mkv, or BASE.edl,
    // the name under which a player finds a skip list. NAME is the
    // recording's name without its extension when that is a recording's,
    // else the whole name: "News 20.00 Uhr" and "News 20.15 Uhr" never
    // share a copy.
    QString proposedOutput(const QString &extension, RunRequest::Mode mode = RunRequest::Mode::Cut) const;

    // The frame list, with the detector's own breaks that the user kept
    // shown beside the approved ones; none when there is no complete one.
    std::optional<results::FrameList> frameList() const;
    // The breaks the cut list holds, its last row counting with or without
    // its line feed; none when there is none, or none that can be read.
    std::optional<int> cutListCount() const;
    bool haveTable() const;
    // The detector's frame list and cut list both lie beside it: its own
    // run's, or a DVR's that ran comskip itself.
    bool haveDetection() const;
    // Folds the table into at most points points of chunkSize rows each.
    ChartLoad readChart(int points, float chunkSize, int totalRows, Chart &chart) const;
    // The table's black frames and scene changes, where an edge can sit.
    review::EdgeMarks edgeMarks() const;

    // The user has edited the detector's list, whose own is kept aside.
    bool haveEditedList() const;
    CommercialList detectedCommercials() const;
    // "2 of 3 detected breaks, 1 edited"; empty when nothing was edited.
    QString breaksSummary() const;

private:
    QString m_path;
    QString m_outDir;
    QString m_baseName;
};
