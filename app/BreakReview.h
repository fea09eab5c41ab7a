#pragma once

#include "core/Commercial.h"
#include "core/EdgeMarks.h"
#include "jobs/BreakDocument.h"
#include "jobs/Recording.h"

#include <QObject>
#include <QStringList>
#include <QUndoStack>

class AppController;

// The detector's results for the recording shown: the break document the
// chart and the table show and the user corrects, the chart's points read
// from the per-frame table, the count, flags and status line that follow
// the lists beside the recording, and the undo stack of the user's edits.
class BreakReview : public QObject
{
    Q_OBJECT
public:
    // controller: where the status line and the window-state flags are set.
    explicit BreakReview(AppController &controller, QObject *parent = nullptr);

    void setRecording(const Recording &recording);
    const Recording &recording() const { return m_recording; }
    int readTXTData();
    bool haveCSVData();
    int readEDLData();
    int readCSVData();
    void clearGraphData();
    int loadData();
    void makeChart();
    // The lists changed on disk under a run: the count and the flags follow
    // them, the status line stays the run's.
    void reloadCounts();
    // The work files are gone, and the count with them.
    void forgetCount() { m_commercialsFound = 0; }

    bool applyBreaks(const CommercialList &list);
    // An edit of the list shown, from before to after, done and kept where
    // Undo finds it.
    void edit(const CommercialList &before, const CommercialList &after, const QString &text);
    // Each edit holds the whole list before and after it, true only of the
    // list it was made on: the stack is emptied whenever the list is
    // replaced (another recording, a new detection), as one stack for each
    // recording would still hold lists a later detection (the queue's, in
    // the background) replaced.
    QUndoStack *undoStack() { return &m_undo; }
    bool revertToDetection();
    bool haveEditedList() const { return m_recording.haveEditedList(); }
    CommercialList detectedCommercials() const { return m_recording.detectedCommercials(); }
    QString breaksSummary() const { return m_recording.breaksSummary(); }

    const Recording::Chart &chart() const { return m_chart; }
    const review::EdgeMarks &edgeMarks() const { return m_edgeMarks; }
    const BreakDocument &document() const { return m_document; }
    qint32 commercialsFound() const { return m_commercialsFound; }
    const QStringList &labels() const { return m_labels; }
    qint32 totalRows() const { return m_document.totalRows(); }
    float chunkSize() const { return m_chunkSize; }
    qint32 pointCount() const { return m_pointCount; }
    float fps() const { return m_document.fps(); }

signals:
    void chartChanged();
    void chartCleared();
    void commercialsChanged();
    void workFilesChanged();

private:
    QString workFile(const QString &extension) const { return m_recording.workFile(extension); }
    void setStatus(const QString &text);
    void setHaveResults(bool value);
    void setHaveCommercials(bool value);

    AppController &m_c;
    Recording m_recording;
    BreakDocument m_document;
    Recording::Chart m_chart;
    review::EdgeMarks m_edgeMarks;
    // Points the chart has for the frame list, and then for the table.
    qint32 m_pointCount = 0;
    float m_chunkSize = 0;
    // The table's column labels, as its last header gave them.
    QStringList m_labels;
    qint32 m_commercialsFound = 0;
    QUndoStack m_undo;
};
