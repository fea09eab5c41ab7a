#pragma once

#include <QByteArray>

#include <array>
#include <optional>
#include <vector>

// Where a break's edge can sensibly sit, as the detector measured it frame
// by frame: its black frames and its scene changes. Frames are numbered as
// the detector numbers them, from 1, which is also how the frame list
// numbers a break's start and end.
namespace review {

struct EdgeMarks
{
    std::vector<int> black; // ascending
    std::vector<int> scenes; // first frames of a new scene, ascending

    bool isBlack(int frame) const;
    bool empty() const { return black.empty() && scenes.empty(); }
};

// The table's "isblack" and "scene_change" columns; none where the table
// has no such columns. A scene change is a frame whose likeness to the one
// before falls under a fifth of the column's highest value.
EdgeMarks parseEdgeMarks(const QByteArray &csv);

// An edge is told by its position: the first frame on the far side of it,
// the break's start for a start edge and the frame after its end for an end
// edge, so that both move alike.
enum class Move { FrameBack, FrameOn, SecondBack, SecondOn, BlackBack, BlackOn, SceneBack, SceneOn };
// Where a move from position lands; none when there is nothing to move to
// (no black frame or scene change that way, or the very first frame).
// Black moves land where a black run begins or where the picture returns
// after one, the two places a cut on black can sit.
std::optional<int> movedEdge(int position, Move move, double fps, const EdgeMarks &marks);

// The frames shown around an edge: a few seconds before, the last picture
// before it, the edge itself, the first picture after it, and a few seconds
// after. Black frames next to the edge are stepped over, so that the
// programme and the advert both show whatever black the edge sits on.
enum class StripSlot { Before, LastBefore, Edge, FirstAfter, After };
constexpr int kStripFrames = 5;
std::array<int, kStripFrames> stripFrames(int position, double fps, int totalFrames, const EdgeMarks &marks);

} // namespace review
