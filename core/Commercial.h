#pragma once

#include <QList>
#include <QStringView>

#include <memory>

// One commercial as the frame list gives it, in frames. The table looks
// values up by its column identifiers, which are these keys.
struct Commercial
{
    int start = 0;
    int end = 0; // inclusive
    int length = 0; // end - start + 1
    int brk = 0; // position in the programme once earlier commercials are cut
    bool cut = true; // false: the user keeps this break in the copy

    // 0 for a key that is not one of "start", "end", "length", "break".
    int value(QStringView key) const
    {
        if (key == u"start")
            return start;
        if (key == u"end")
            return end;
        if (key == u"length")
            return length;
        if (key == u"break")
            return brk;
        return 0;
    }
    bool operator==(const Commercial &o) const
    {
        return start == o.start && end == o.end && length == o.length && brk == o.brk && cut == o.cut;
    }
};

using CommercialList = QList<Commercial>;
// The controller fills the list; the chart reads the very same list.
using SharedCommercials = std::shared_ptr<CommercialList>;
