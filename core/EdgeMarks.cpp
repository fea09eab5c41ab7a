#include "core/EdgeMarks.h"

#include <QList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace review {

namespace {

// The field'th comma-separated field of a line, as an integer; the line
// is given by its bounds. Only its leading digits count, so "1.51" is 1.
std::optional<int> fieldAt(const char *p, const char *end, int field)
{
    for (int k = 0; k < field; ++k) {
        p = static_cast<const char *>(std::memchr(p, ',', size_t(end - p)));
        if (!p)
            return std::nullopt;
        ++p;
    }
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    if (p >= end || *p < '0' || *p > '9')
        return std::nullopt;
    long long v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        v = std::min<long long>(v * 10 + (*p - '0'), 1LL << 40);
    v = negative ? -v : v;
    return int(std::clamp<long long>(v, -(1LL << 30), 1LL << 30));
}

int roundedFrames(double seconds, double fps)
{
    return fps > 0 && std::isfinite(fps) ? std::max(1, int(std::lround(seconds * fps))) : 1;
}

// The places a cut on black can sit: where each run of black frames begins
// and the frame after it ends.
std::vector<int> blackTransitions(const std::vector<int> &black)
{
    std::vector<int> places;
    for (size_t i = 0; i < black.size(); ++i) {
        if (i == 0 || black[i - 1] != black[i] - 1)
            places.push_back(black[i]);
        if (i + 1 == black.size() || black[i + 1] != black[i] + 1)
            places.push_back(black[i] + 1);
    }
    return places;
}

std::optional<int> nextAfter(const std::vector<int> &sorted, int position)
{
    const auto it = std::upper_bound(sorted.begin(), sorted.end(), position);
    return it == sorted.end() ? std::nullopt : std::optional<int>(*it);
}

std::optional<int> lastBefore(const std::vector<int> &sorted, int position)
{
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), position);
    return it == sorted.begin() ? std::nullopt : std::optional<int>(*(it - 1));
}

} // namespace

bool EdgeMarks::isBlack(int frame) const
{
    return std::binary_search(black.begin(), black.end(), frame);
}

EdgeMarks parseEdgeMarks(const QByteArray &csv)
{
    EdgeMarks marks;
    const char *p = csv.constData();
    const char *const end = p + csv.size();
    int frameColumn = -1, blackColumn = -1, sceneColumn = -1;
    std::vector<std::pair<int, int>> likeness;
    int most = 0;
    bool header = true;
    while (p < end) {
        const char *eol = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!eol)
            eol = end;
        if (header) {
            const QByteArray line = QByteArray(p, int(eol - p)).trimmed();
            if (!line.startsWith("sep=")) {
                header = false;
                const QList<QByteArray> labels = line.split(',');
                for (int k = 0; k < labels.size(); ++k) {
                    const QByteArray label = labels.at(k).trimmed();
                    if (label == "frame")
                        frameColumn = k;
                    else if (label == "isblack")
                        blackColumn = k;
                    else if (label == "scene_change")
                        sceneColumn = k;
                }
                if (frameColumn < 0 || (blackColumn < 0 && sceneColumn < 0))
                    return marks;
            }
        } else if (const std::optional<int> frame = fieldAt(p, eol, frameColumn)) {
            if (blackColumn >= 0 && fieldAt(p, eol, blackColumn).value_or(0) != 0)
                marks.black.push_back(*frame);
            // The first frame has none before it to be like.
            if (const std::optional<int> v = sceneColumn >= 0 ? fieldAt(p, eol, sceneColumn) : std::nullopt;
                v && *frame > 1) {
                likeness.emplace_back(*frame, *v);
                most = std::max(most, *v);
            }
        }
        p = eol + 1;
    }
    for (const auto &[frame, v] : likeness)
        if (v * 5 < most)
            marks.scenes.push_back(frame);
    // The table is in frame order, but a clock that jumps back may not be.
    for (std::vector<int> *v : {&marks.black, &marks.scenes}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    return marks;
}

std::optional<int> movedEdge(int position, Move move, double fps, const EdgeMarks &marks)
{
    std::optional<int> to;
    switch (move) {
    case Move::FrameBack:
        to = position - 1;
        break;
    case Move::FrameOn:
        to = position + 1;
        break;
    case Move::SecondBack:
        to = std::max(1, position - roundedFrames(1.0, fps));
        break;
    case Move::SecondOn:
        to = position + roundedFrames(1.0, fps);
        break;
    case Move::BlackBack:
        to = lastBefore(blackTransitions(marks.black), position);
        break;
    case Move::BlackOn:
        to = nextAfter(blackTransitions(marks.black), position);
        break;
    case Move::SceneBack:
        to = lastBefore(marks.scenes, position);
        break;
    case Move::SceneOn:
        to = nextAfter(marks.scenes, position);
        break;
    }
    if (!to || *to < 1 || *to == position)
        return std::nullopt;
    return to;
}

std::array<int, kStripFrames> stripFrames(int position, double fps, int totalFrames, const EdgeMarks &marks)
{
    const int last = totalFrames > 0 ? totalFrames : std::max(position, 1) + roundedFrames(3600.0, fps);
    const auto bound = [last](int frame) { return std::clamp(frame, 1, last); };
    // A black run longer than this is programme, not a gap to step over.
    const int reach = roundedFrames(10.0, fps);
    // Steps over black from frame towards step's side, and one frame
    // further when it did: a frame's doubt in where a time lands then still
    // falls on picture.
    const auto pastBlack = [&](int frame, int step) {
        int f = bound(frame);
        int walked = 0;
        while (marks.isBlack(f) && walked < reach && f + step >= 1 && f + step <= last) {
            f += step;
            ++walked;
        }
        return walked > 0 ? bound(f + step) : f;
    };
    const int around = roundedFrames(3.0, fps);
    const int lastBeforeEdge = pastBlack(position - 1, -1);
    const int firstAfterEdge = pastBlack(position, +1);
    return {pastBlack(lastBeforeEdge - around, -1), lastBeforeEdge, bound(position), firstAfterEdge,
            pastBlack(firstAfterEdge + around, +1)};
}

} // namespace review
