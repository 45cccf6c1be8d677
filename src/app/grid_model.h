#pragma once

#include "records.h"

#include <QAbstractTableModel>

// A read-only model over a snapshot of rows, for the program's list grids.
// The rows are read in full before the grid shows them, so no statement stays
// open while the list is on screen.
class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void set_table(Table table);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    Table table_;
};
