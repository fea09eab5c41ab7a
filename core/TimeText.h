#pragma once

#include <QString>

// A duration as "%02d:%02d" minutes and seconds, with "%d:" hours in front
// when there is a whole hour or alwaysShowHours is set. Fractions of a
// second are dropped; there is no day field. Values that are no duration
// (negative, NaN) count as 0, and the arithmetic is kept in range for huge
// ones. The progress rows and the chart both tell time this way.
QString timeText(double seconds, bool alwaysShowHours);
