#include "chart/CommercialTableModel.h"

#include "core/TimeText.h"

#include <cmath>

CommercialTableModel::CommercialTableModel(QObject *parent)
    : QAbstractTableModel(parent),
      m_identifiers{QStringLiteral("#"), QStringLiteral("start"), QStringLiteral("end"),
                    QStringLiteral("length"), QStringLiteral("break")},
      m_titles{tr("#"), tr("Start"), tr("End"), tr("Length"), tr("In programme")}
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
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    const QString &id = m_identifiers.at(index.column());
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

void CommercialTableModel::setCommercials(const CommercialList &rows, float fps)
{
    beginResetModel();
    m_rows = rows;
    m_fps = fps;
    endResetModel();
}
