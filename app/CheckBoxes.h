#pragma once

#include <QCheckBox>

// A check box counts as on only in its on state; mixed counts as off, and
// so does a box that is not there.
inline bool isOn(const QCheckBox *box)
{
    return box && box->checkState() == Qt::Checked;
}
