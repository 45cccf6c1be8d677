#include "label.h"

#include "connection.h"
#include "core_tables.h"
#include "dates.h"
#include "investigations.h"
#include "lab_reports.h"
#include "orders.h"
#include "schema_setup.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSettings>

#include <zint.h>

#include <memory>

namespace {

// The bars of a Code 128 symbol, from zint, in its own units (one unit: the
// narrowest bar), with its quiet zones; nothing when it cannot be encoded.
struct Bars {
    QList<QRectF> rects;
    QSizeF size;
    QString error;
};

Bars code128(const QString& text) {
    std::unique_ptr<zint_symbol, decltype(&ZBarcode_Delete)> symbol(ZBarcode_Create(), ZBarcode_Delete);
    if (!symbol) return {{}, {}, QStringLiteral("the barcode library could not start")};
    symbol->symbology = BARCODE_CODE128;
    symbol->show_hrt = 0; // the text is the label's own, in its own font
    symbol->output_options |= BARCODE_QUIET_ZONES;
    symbol->height = 50;
    const QByteArray data = text.toLatin1();
    if (ZBarcode_Encode_and_Buffer_Vector(symbol.get(),
                                          reinterpret_cast<const unsigned char*>(data.constData()),
                                          int(data.size()), 0) >= ZINT_ERROR)
        return {{}, {}, QString::fromLatin1(symbol->errtxt)};
    Bars bars;
    bars.size = QSizeF(symbol->vector->width, symbol->vector->height);
    for (const zint_vector_rect* r = symbol->vector->rectangles; r; r = r->next)
        bars.rects << QRectF(r->x, r->y, r->width, r->height);
    return bars;
}

void paint_label(QPainter& p, const LabelContent& label, const QRectF& area, const Bars& bars) {
    const double h = area.height();
    // The barcode over the top 40 %, as wide as the label allows; five lines
    // of text below it fill the rest.
    const QRectF code_area(area.left(), area.top(), area.width(), h * 0.40);
    const double scale =
        std::min(code_area.width() / bars.size.width(), code_area.height() / bars.size.height());
    const double code_w = bars.size.width() * scale;
    p.save();
    p.translate(code_area.left() + (code_area.width() - code_w) / 2, code_area.top());
    p.scale(scale, code_area.height() / bars.size.height());
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    for (const QRectF& r : bars.rects)
        p.drawRect(r);
    p.restore();

    const double line = h * 0.10;
    auto font = [&](double size, bool bold) {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(std::max(1, int(size)));
        f.setBold(bold);
        f.setStyleStrategy(QFont::PreferNoShaping);
        return f;
    };
    double y = code_area.bottom() + line * 0.15;
    auto text = [&](const QString& s, double size, bool bold, Qt::Alignment align = Qt::AlignLeft) {
        p.setFont(font(size, bold));
        p.setPen(Qt::black);
        const QRectF r(area.left(), y, area.width(), size * 1.25);
        p.drawText(r, align | Qt::AlignVCenter | Qt::TextSingleLine,
                   p.fontMetrics().elidedText(s, Qt::ElideRight, int(area.width())));
        y += size * 1.25;
    };
    text(label.code, line * 1.05, true, Qt::AlignHCenter);
    text(label.patient_name, line * 0.95, true);
    text(label.patient_line + QStringLiteral(" · ") + label.sample, line * 0.8, false);
    text(label.tests, line * 0.8, true);
    text(label.when, line * 0.75, false);
}

} // namespace

LabelSize label_size() {
    QSettings ini(QDir(program_folder()).filePath(QStringLiteral("tavora-lab.ini")), QSettings::IniFormat);
    LabelSize size;
    bool ok = false;
    const double w = ini.value(QStringLiteral("labels/width-mm")).toDouble(&ok);
    if (ok && w >= 20 && w <= 200) size.width_mm = w;
    const double h = ini.value(QStringLiteral("labels/height-mm")).toDouble(&ok);
    if (ok && h >= 10 && h <= 200) size.height_mm = h;
    return size;
}

namespace {

// "ID 7 · 34 / F": the age and sex where the patient has them.
QString patient_line(const QString& patient_id, const QString& age, const QString& sex) {
    const QString id = QStringLiteral("ID %1").arg(patient_id);
    return age.isEmpty() && sex.isEmpty() ? id : id + QStringLiteral(" · %1 / %2").arg(age, sex);
}

} // namespace

LabelContent sample_label(const OrderedSample& s) {
    LabelContent l;
    l.code = accession_text(s.accession);
    l.patient_name = s.patient_name;
    l.patient_line = patient_line(QString::number(s.patient_id), s.age, s.sex);
    l.sample = catalogue::sample_name(s.sample);
    QStringList tests;
    for (const Investigation* t : s.tests)
        tests << QString::fromLatin1(catalogue::sampling(t).short_name);
    l.tests = tests.join(u' ');
    l.when = display_date_time(s.ordered_at);
    if (s.urgent) l.when += QStringLiteral(" · URGENT");
    return l;
}

DbResult<std::optional<LabelContent>> report_label(qint64 lab_id) {
    auto report = find_report(lab_id);
    if (!report.ok() || !report.value) return {std::nullopt, report.error};
    const ReportHeader& r = *report.value;
    auto patient = find_patient(r.patient_id);
    if (!patient.ok()) return {std::nullopt, patient.error};
    LabelContent l;
    l.code = QString::number(lab_id);
    const Patient found = patient.value.value_or(Patient{});
    l.patient_name = found.patient_name;
    l.patient_line = patient_line(r.patient_id.toString(), found.age, found.sex);
    if (const Investigation* test = catalogue::by_test(r.test)) {
        l.sample = catalogue::sample_name(catalogue::sampling(test).sample);
        l.tests = QString::fromLatin1(catalogue::sampling(test).short_name);
    }
    l.when = display_date(r.t_date);
    return {l, {}};
}

QString paint_labels(const QList<LabelContent>& labels, const LabelSize& size, QPagedPaintDevice* device) {
    if (labels.isEmpty()) return QStringLiteral("There is no label to print.");
    device->setPageLayout(QPageLayout(QPageSize(QSizeF(size.width_mm, size.height_mm), QPageSize::Millimeter),
                                      QPageLayout::Portrait, QMarginsF(2, 1.5, 2, 1.5),
                                      QPageLayout::Millimeter));
    QList<Bars> all;
    for (const LabelContent& l : labels) {
        all << code128(l.code);
        if (!all.last().error.isEmpty())
            return QStringLiteral("The barcode of %1 cannot be made: %2").arg(l.code, all.last().error);
    }
    QPainter p;
    if (!p.begin(device)) return QStringLiteral("The labels cannot be printed.");
    const QRectF area = device->pageLayout().paintRectPixels(device->logicalDpiX());
    for (int i = 0; i < labels.size(); ++i) {
        if (i > 0) device->newPage();
        paint_label(p, labels[i], QRectF(QPointF(0, 0), area.size()), all[i]);
    }
    p.end();
    return {};
}

QString write_labels_pdf(const QList<LabelContent>& labels, const LabelSize& size, const QString& pdf_path) {
    if (QFile f(pdf_path); f.open(QIODevice::WriteOnly)) f.setPermissions(kPatientCopyMode);
    QPdfWriter writer(pdf_path);
    writer.setResolution(600);
    writer.setTitle(QStringLiteral("Sample labels"));
    writer.setCreator(QStringLiteral("Tavora Lab"));
    const QString error = paint_labels(labels, size, &writer);
    QFile::setPermissions(pdf_path, kPatientCopyMode);
    return error;
}
