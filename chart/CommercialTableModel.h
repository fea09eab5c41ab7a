#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>

class VideoGraph;

// The commercial table: rows and cell texts come from the chart view;
// columns are told apart by identifier ("#" or a commercial entry's key).
class CommercialTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit CommercialTableModel(VideoGraph *graph, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    QString identifier(int column) const { return m_identifiers.value(column); }
    void reload();

private:
    QPointer<VideoGraph> m_graph;
    QStringList m_identifiers;
    QStringList m_titles;
};
