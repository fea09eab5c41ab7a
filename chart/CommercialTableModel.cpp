#include "chart/CommercialTableModel.h"

#include "chart/VideoGraph.h"

CommercialTableModel::CommercialTableModel(VideoGraph *graph, QObject *parent)
    : QAbstractTableModel(parent),
      m_graph(graph),
      m_identifiers{QStringLiteral("#"), QStringLiteral("start"), QStringLiteral("end"),
                    QStringLiteral("length"), QStringLiteral("break")},
      m_titles{tr("#"), tr("Start"), tr("End"), tr("Length"), tr("In programme")}
{
}

int CommercialTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_graph ? 0 : m_graph->numberOfRowsInTableView();
}

int CommercialTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_identifiers.size());
}

QVariant CommercialTableModel::data(const QModelIndex &index, int role) const
{
    if (!m_graph || !index.isValid() || index.column() >= m_identifiers.size())
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    return m_graph->tableObjectValue(m_identifiers.at(index.column()), index.row());
}

QVariant CommercialTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    return m_titles.value(section);
}

void CommercialTableModel::reload()
{
    beginResetModel();
    endResetModel();
}
