#include "chart/CommercialTableModel.h"

#include "core/BreakList.h"
#include "core/TimeText.h"

#include <QColor>

#include <cmath>

CommercialTableModel::CommercialTableModel(QObject *parent)
    : QAbstractTableModel(parent),
      m_identifiers{QStringLiteral("#"),      QStringLiteral("start"), QStringLiteral("end"),
                    QStringLiteral("length"), QStringLiteral("break"), QStringLiteral("cut")},
      m_titles{tr("#"), tr("Start"), tr("End"), tr("Length"), tr("In programme"), tr("Cut")}
{ }

int CommercialTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CommercialTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_identifiers.size());
}

QVariant CommercialTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() >= m_identifiers.size() || index.row() >= m_rows.size())
        return {};
    const QString &id = m_identifiers.at(index.column());
    const Commercial &c = m_rows.at(index.row());
    if (id == QLatin1String("cut")) {
        if (role == Qt::CheckStateRole)
            return c.cut ? Qt::Checked : Qt::Unchecked;
        if (role == Qt::AccessibleTextRole)
            return c.cut ? tr("Cut") : tr("Kept");
        return {};
    }
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ForegroundRole && !c.cut)
        return QColor(Qt::gray);
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (id == QLatin1String("#"))
        return QString::number(index.row() + 1);
    if (!(m_fps > 0) || !std::isfinite(m_fps))
        return QString();
    return timeText(double(float(m_rows.at(index.row()).value(id)) / m_fps), true);
}

QVariant CommercialTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    return m_titles.value(section);
}

void CommercialTableModel::setCommercials(const CommercialList &rows, float fps, int totalFrames)
{
    beginResetModel();
    m_rows = rows;
    m_fps = fps;
    m_totalFrames = totalFrames;
    endResetModel();
}

Qt::ItemFlags CommercialTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    const QString id = identifier(index.column());
    if (id == QLatin1String("cut"))
        f |= Qt::ItemIsUserCheckable;
    else if (id == QLatin1String("start") || id == QLatin1String("end"))
        f |= Qt::ItemIsEditable;
    return f;
}

bool CommercialTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return false;
    const QString id = identifier(index.column());
    const int row = index.row();
    if (id == QLatin1String("cut") && role == Qt::CheckStateRole) {
        const bool cut = value.toInt() == Qt::Checked;
        if (cut == m_rows.at(row).cut)
            return false;
        toggleCut(row);
        return true;
    }
    if ((id != QLatin1String("start") && id != QLatin1String("end")) || role != Qt::EditRole)
        return false;
    const std::optional<int> frames = breaks::framesFromText(value.toString(), m_fps);
    if (!frames) {
        emit editRejected(
            tr("\"%1\" is not a time: write it as 0:12:34, 0:12:34.50 or 0:12:34;15.").arg(value.toString()));
        return false;
    }
    return moveEdge(row, id == QLatin1String("start"), *frames);
}

void CommercialTableModel::toggleCut(int row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    CommercialList after = m_rows;
    after[row].cut = !after[row].cut;
    breaks::recompute(after);
    emit editRequested(after,
                       after[row].cut ? tr("Cut break %1").arg(row + 1) : tr("Keep break %1").arg(row + 1));
}

void CommercialTableModel::removeBreak(int row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    CommercialList after = m_rows;
    after.removeAt(row);
    breaks::recompute(after);
    emit editRequested(after, tr("Remove break %1").arg(row + 1));
}

bool CommercialTableModel::addBreak(int start, int end)
{
    const QString problem = breaks::problemWith(m_rows, -1, start, end, m_totalFrames);
    if (!problem.isEmpty()) {
        emit editRejected(problem);
        return false;
    }
    CommercialList after = m_rows;
    Commercial c;
    c.start = start;
    c.end = end;
    after.append(c);
    breaks::recompute(after);
    emit editRequested(after, tr("Add a break"));
    return true;
}

bool CommercialTableModel::moveEdge(int row, bool startEdge, int frame)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    Commercial c = m_rows.at(row);
    (startEdge ? c.start : c.end) = frame;
    const QString problem = breaks::problemWith(m_rows, row, c.start, c.end, m_totalFrames);
    if (!problem.isEmpty()) {
        emit editRejected(problem);
        return false;
    }
    CommercialList after = m_rows;
    after[row] = c;
    breaks::recompute(after);
    emit editRequested(after, startEdge ? tr("Move the start of break %1").arg(row + 1)
                                        : tr("Move the end of break %1").arg(row + 1));
    return true;
}
