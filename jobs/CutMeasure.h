#pragma once

#include "core/RunRequest.h"

#include <optional>

class RecordingMedia;

// How much of the recording a cut keeps, by the cut's own arithmetic: the
// pipeline tells the copy it made, not what of the recording it holds.
struct CutMeasure
{
    int breaksCut = 0; // in the cut list, overlapping ones merged
    double keptSeconds = 0;

    // None before the recording has been read or without a cut list.
    static std::optional<CutMeasure> of(const RunRequest &request, const RecordingMedia &media);
};
