// The user's corrections of the detector's list, applied to the break
// document while no run is under way, and what the window says of them.

#include "app/BreakReview.h"

#include "app/AppController.h"

#include "core/BreakList.h"

bool BreakReview::applyBreaks(const CommercialList &list)
{
    if (m_recording.baseName().isEmpty() || totalRows() <= 0 || !(fps() > 0) || m_c.runInProgress())
        return false;
    if (!m_document.apply(list)) {
        setStatus(QStringLiteral("The edited list could not be written beside the recording."));
        return false;
    }
    m_commercialsFound = m_document.cutCount();
    setHaveCommercials(m_c.haveResults() && m_commercialsFound > 0);
    emit commercialsChanged();
    const CommercialList detected = detectedCommercials();
    setStatus(QStringLiteral("%1 of %2 detected breaks will be cut, %3 edited.")
                  .arg(m_commercialsFound)
                  .arg(detected.size())
                  .arg(breaks::editedCount(*m_document.list(), detected)));
    emit workFilesChanged();
    return true;
}

bool BreakReview::revertToDetection()
{
    if (!haveEditedList() || m_c.runInProgress())
        return false;
    m_document.revert();
    readEDLData();
    readTXTData();
    emit workFilesChanged();
    return true;
}
