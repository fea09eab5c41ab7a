#pragma once

#include "core/Commercial.h"
#include "jobs/Recording.h"

#include <QObject>

// The breaks of a recording as the user approves them: the frame list and
// cut list beside the recording, with the detector's own list kept aside
// once the user edits it, so that it can be brought back. The chart and
// the table hold the very list this document refills.
class BreakDocument : public QObject
{
    Q_OBJECT
public:
    explicit BreakDocument(QObject *parent = nullptr);

    void setRecording(const Recording &recording);
    const Recording &recording() const { return m_recording; }

    // Reads the frame list again; false when there is no complete one.
    bool reload();
    const SharedCommercials &list() const { return m_list; }
    int totalRows() const { return m_totalRows; }
    float fps() const { return m_fps; }
    // Breaks the approved list cuts.
    int cutCount() const;

    // Writes list (the breaks, each cut or kept) as the frame list and the
    // cut list the cutter reads; false when they could not be written.
    bool apply(const CommercialList &list);
    // Brings the detector's own list back; false when there is none to.
    bool revert();

signals:
    void changed();

private:
    Recording m_recording;
    SharedCommercials m_list = std::make_shared<CommercialList>();
    int m_totalRows = 0;
    float m_fps = 0;
};
