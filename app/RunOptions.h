#pragma once

#include "jobs/DetectorSettings.h"

// What the window's check boxes ask of a run, as the window hands them
// over; everything is off until it does. The detector's are in the
// window's boxes' order (black frames first, cut scenes last).
struct RunOptions : DetectorOptions
{
    bool noSkip = false;
    bool edlSeek = false;
    bool mencoderCutter = false;
    // The steps the automatic run takes.
    bool autoDetect = false;
    bool autoRemove = false;
    bool autoClean = false;
};
