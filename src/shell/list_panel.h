#pragma once

#include "db_error.h"
#include "records.h"

#include <QAbstractTableModel>
#include <QFrame>
#include <QHash>
#include <QList>

class QPushButton;
class QTableView;

// A read-only model over a list that may hold every report of ten years. It
// reads the keys of the first screenful and shows it; the rest of the keys
// follow in growing parts, one each time the event loop is free, so the list
// is on screen before the table's size matters. It reads the rows a
// screenful at a time by key, keeping a few screenfuls. Every read is one
// statement that finishes at once: nothing stays open while the list is shown.
class PagedListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 128;
    static constexpr int kKeptPages = 8;

    using QAbstractTableModel::QAbstractTableModel;

    // The largest part of the keys read in one turn of the event loop.
    static constexpr int kMostKeysAtOnce = 1 << 18;

    // Reads the first screenful; on failure the model is empty.
    // The rows of `first` (those the list holds) come first, in that order,
    // their row headings reading `first_heading`.
    DbError set_list(const ListQuery& list, const QList<qint64>& first = {},
                     const QString& first_heading = {});
    // Forgets the list and gives its memory back.
    void release();
    // Whether every key of the list has been read.
    bool complete() const { return !more_; }
    // Reads the rest of the keys now; false when a read failed (told by read_failed).
    bool read_to_end();

    QString cell(int row, int column) const;
    qint64 key(int row) const { return keys_.value(row); }
    const QStringList& columns() const { return columns_; }
    const ListQuery& list() const { return list_; }
    // How many rows were put first.
    int first_rows() const { return first_rows_; }
    // Readable headings in place of the column names (empty: the names).
    void set_headings(const QStringList& headings) { headings_ = headings; }
    QStringList headings() const { return headings_.isEmpty() ? columns_ : headings_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // A screenful could not be read (the database went away, say); its rows show empty.
    void read_failed(const DbError& error) const;
    // Every key of the list has been read (rowCount() is the list's length).
    void completed();

private:
    const QList<QStringList>* page(int index) const;
    // Reads the next part of the keys and adds their rows; false on a failure.
    bool read_more();
    void read_more_later();

    ListQuery list_;
    QList<qint64> keys_;
    QList<qint64> front_; // the keys put first, left out where the list reaches them
    ListCursor cursor_;
    int next_part_ = kPageRows;
    bool more_ = false;
    quint64 generation_ = 0; // a part still due for a list replaced since does nothing
    QStringList columns_;
    QStringList headings_;
    int first_rows_ = 0;
    QString first_heading_;
    mutable QHash<int, QList<QStringList>> pages_;
    mutable QList<int> page_order_; // least recently used first
    mutable bool failure_reported_ = false;
};

// The list panel of a screen: a frame that covers the whole screen with a
// read-only grid and a Cancel button; hidden, it gives the list's memory back.
class ListPanel : public QFrame {
    Q_OBJECT
public:
    // `screen` is covered; the names are the frame's, the grid's and the Cancel button's.
    ListPanel(QWidget* screen, const char* frame_name, const char* grid_name, const char* cancel_name);

    // Reads the list and shows the panel over the screen; a failure is told to
    // the user as `action` failed, and the panel stays as it was.
    bool show_list(const ListQuery& list, const QString& action, const QList<qint64>& first = {},
                   const QString& first_heading = {});
    void hide_column(int position);
    // The panel's caption above the grid (none when empty).
    void set_caption(const QString& caption);
    QString caption() const;

    QTableView* grid() const { return grid_; }
    PagedListModel* model() const { return model_; }
    QPushButton* cancel() const { return cancel_; }
    QPushButton* export_button() const { return export_; }

signals:
    void row_clicked(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Columns as wide as the rows on screen show them. Measured only while the
    // grid is on screen: a hidden grid measures every row of the list.
    void fit_columns();
    bool columns_to_fit_ = false;

    QTableView* grid_ = nullptr;
    PagedListModel* model_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* export_ = nullptr;
    class QLabel* caption_ = nullptr;
    QList<int> hidden_columns_;
};
