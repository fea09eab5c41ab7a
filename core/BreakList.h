#pragma once

// The list of breaks as the user approves it: which of the detector's
// breaks are cut, where each starts and ends, which were added. Plain
// functions on a CommercialList, so the table, the chart, the undo stack
// and the files all see one rule.

#include "core/Commercial.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace breaks {

// Lengths and programme positions follow the starts and ends; the list is
// put in order of start.
void recompute(CommercialList &list);

// Empty when start..end (frames, inclusive) can stand at row: start before
// end, inside the recording, overlapping neither neighbour. Otherwise why
// not, in words for the user. row is -1 for a break about to be added.
QString problemWith(const CommercialList &list, int row, int start, int end, int totalFrames);

// Frames from the table's time text "H:MM:SS" (hours optional), with
// ".hh" hundredths or ";ff" frames after the seconds; none for text that
// is not a time.
std::optional<int> framesFromText(const QString &text, float fps);
// A frame's time as "H:MM:SS.hh", which framesFromText reads back to the
// same frame at any rate under 100 frames a second.
QString frameTimeText(int frame, float fps);

// The files the cutter and the readers use, holding only the breaks that
// are cut: the frame list in the detector's own format, and the EDL.
QByteArray frameListText(int totalFrames, float fps, const CommercialList &list);
QByteArray edlText(float fps, const CommercialList &list);

// The detector's own list with the approved one laid over it: every
// approved break, cut, and each detected break none of them overlaps, kept.
CommercialList merged(const CommercialList &approved, const CommercialList &detected);

// How many of the list are cut, and how many differ from what the detector
// found (moved, added, or kept where it said cut).
int cutCount(const CommercialList &list);
int editedCount(const CommercialList &list, const CommercialList &detected);

} // namespace breaks
