#pragma once

// What the window's check boxes ask of a run, as the window hands them
// over; everything is off until it does.
struct RunOptions
{
    // comskip's detect_method: a bit a method, in the order of the
    // window's boxes (black frames first, cut scenes last).
    int detectMethods = 0;
    bool tickerTape = false;
    bool deleteBefore = false; // the show before the first break
    bool deleteAfter = false; // the show after the last break
    bool logoAtBottom = false;
    bool noSkip = false;
    bool edlSeek = false;
    // The steps the automatic run takes.
    bool autoDetect = false;
    bool autoRemove = false;
    bool autoClean = false;
};
