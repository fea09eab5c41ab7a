#pragma once

#include <QVariantMap>

// The detector's options a user chooses (the window's check boxes, the
// command line's defaults), laid over the settings resource's values.
struct DetectorOptions
{
    // comskip's detect_method: a bit a method, black frames first, cut
    // scenes last.
    int detectMethods = 0;
    bool tickerTape = false;
    bool deleteBefore = false; // the show before the first break
    bool deleteAfter = false; // the show after the last break
    bool logoAtBottom = false;

    // As the main window's boxes stand when it opens (MainWindow.ui): black
    // frames, the station's logo, a change of resolution and of aspect
    // ratio, and nothing else.
    static DetectorOptions asShipped() { return {1 | 2 | 8 | 32}; }
};

// mencoder's options as the main window's boxes stand when it opens: every
// frame kept, no precise seek at the cuts (see TOOLS.md for why).
inline constexpr bool kNoSkipAsShipped = true;
inline constexpr bool kEdlSeekAsShipped = false;

// The settings resource's values with the options overlaid, under the
// names comskip reads.
QVariantMap withDetectorOptions(QVariantMap settings, const DetectorOptions &options);
