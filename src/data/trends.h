#pragma once

#include "db_error.h"
#include "investigations.h"
#include "normal_ranges.h"

#include <QDate>
#include <QList>
#include <QString>

#include <optional>

// A patient's results of one item over time: the items that can be drawn
// (those with a normal range, so their results are numbers), and the points
// of one of them in report order, each with its flag.

struct TrendItem {
    const Investigation* test = nullptr;
    QString item; // the caption, as the rows store it
    QString shown() const;
};

struct TrendPoint {
    QDate date;
    qint64 lab_id = 0;
    double value = 0;
    QString result; // as stored
    QString flag;   // H, L, HH, LL or empty
};

struct Trend {
    TrendItem item;
    QList<TrendPoint> points;     // oldest first; results that are no number are left out
    std::optional<Bounds> normal; // the band the flags were read against (the patient's sex and age)
};

// The items of the patient's reports that have numeric results, in the
// order of the catalogue and then of their captions.
DbResult<QList<TrendItem>> trend_items(qint64 patient_id);
DbResult<Trend> trend(qint64 patient_id, const TrendItem& item);
