#pragma once

#include "db_error.h"

#include <QList>
#include <QString>

#include <optional>

class QPagedPaintDevice;
struct OrderedSample;

// A sample's label: a Code 128 barcode of its number (an accession "A123",
// or a saved report's lab id), the number as text beneath it, the patient,
// the sample and its tests, and when it was ordered; laid out for the label
// stock tavora-lab.ini names ([labels] width-mm, height-mm; 50 x 25 mm
// unless set).

struct LabelSize {
    double width_mm = 50;
    double height_mm = 25;
};
// The [labels] section of tavora-lab.ini in the program folder.
LabelSize label_size();

struct LabelContent {
    QString code; // what the barcode carries, as printed beneath it
    QString patient_name;
    QString patient_line; // "ID 7 · 34 / F"
    QString sample;       // "serum"
    QString tests;        // "BIOCHEM TFT"
    QString when;         // "10 Dec 2026 09:15"
};

LabelContent sample_label(const OrderedSample& sample);
// The label of a saved report's sample, its barcode the lab id: the patient,
// the test's sample and short name, and the report's date. Nothing when no
// report has that lab id.
DbResult<std::optional<LabelContent>> report_label(qint64 lab_id);

// Sets the device's page to the label's size; paints one label a page.
// Empty when painted, else why not.
QString paint_labels(const QList<LabelContent>& labels, const LabelSize& size, QPagedPaintDevice* device);
QString write_labels_pdf(const QList<LabelContent>& labels, const LabelSize& size, const QString& pdf_path);
