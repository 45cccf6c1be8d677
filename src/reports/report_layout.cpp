#include "report_layout.h"

#include "schema_setup.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFileInfo>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextTable>
#include <QUrl>

#include <memory>

namespace {

// A band or the body, laid out once: the width (and for the body the page
// height) is set before the text, since each change of size lays it all out again.
std::unique_ptr<QTextDocument> make_document(const PreparedReport& r, const QString& html,
                                             QPaintDevice* device, double width, double page_height = -1) {
    auto doc = std::make_unique<QTextDocument>();
    doc->documentLayout()->setPaintDevice(device);
    doc->setDocumentMargin(0);
    // A report is read and searched, not typeset for beauty: no ligatures
    // (a PDF's "fi" glyph makes "Verified" unfindable), nor any other
    // shaping that simple scripts do not need. The report file's styles
    // name families and sizes; the strategy comes from here.
    QFont font(QStringLiteral("DejaVu Sans"), 10);
    font.setStyleStrategy(QFont::PreferNoShaping);
    doc->setDefaultFont(font);
    doc->setBaseUrl(QUrl::fromLocalFile(r.file.folder + u'/'));
    doc->setDefaultStyleSheet(r.file.style);
    doc->setPageSize(QSizeF(width, page_height));
    for (auto chart = r.charts.cbegin(); chart != r.charts.cend(); ++chart)
        doc->addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("chart:") + chart.key()),
                         chart.value());
    doc->setHtml(html);
    return doc;
}

// The tables of a body whose heading rows repeat on every page they run on
// (a results table: its section heading and column headings in <thead>).
QList<QTextTable*> headed_tables(QTextDocument* doc) {
    QList<QTextTable*> tables;
    for (QTextFrame* f : doc->rootFrame()->childFrames())
        if (auto* t = qobject_cast<QTextTable*>(f); t && t->format().headerRowCount() > 0) tables << t;
    return tables;
}

double row_top(QTextDocument* doc, QTextTable* t, int row) {
    return doc->documentLayout()->blockBoundingRect(t->cellAt(row, 0).firstCursorPosition().block()).top();
}

// Set on a table that carries on one before it on a new page.
constexpr int kContinuedTable = QTextFormat::UserProperty + 1;

int page_of(double y, double page_h) {
    return int(y / page_h);
}

void break_before(QTextFrame* f) {
    QTextFrameFormat format = f->frameFormat();
    format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    f->setFrameFormat(format);
}

// Pages a pathologist would sign: a table's heading rows never stand alone
// at the foot of a page (the table starts on the next page), and what follows
// the last table (remarks, the end note, the signature) never fills a last
// page on its own (the last table goes over with it, when it can).
void keep_headings_with_their_rows(QTextDocument* doc, double page_h) {
    const QList<QTextTable*> tables = headed_tables(doc);
    // One pass from the top: a table moved to the next page moves only what
    // follows it, so each table is measured once, where the ones before it
    // have settled (the layout below a move is redone as far as it is read).
    for (QTextTable* t : tables) {
        const int headers = t->format().headerRowCount();
        if (t->rows() <= headers || t->frameFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
            continue;
        if (page_of(row_top(doc, t, headers), page_h) > page_of(row_top(doc, t, 0), page_h)) break_before(t);
    }
    if (tables.isEmpty()) return;
    QTextTable* last = tables.last();
    if (last->frameFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) return;
    const QTextBlock after = last->lastCursorPosition().block().next();
    if (!after.isValid()) return;
    const double end_of_rows = row_top(doc, last, last->rows() - 1);
    // Where the document ends: the signature comes last, below the remarks
    // and the end note, and is what must not stand alone.
    const QRectF end = doc->documentLayout()->blockBoundingRect(doc->lastBlock());
    const double rest = std::max(end.top(), end.bottom() - 1);
    const double first = row_top(doc, last, 0);
    if (page_of(rest, page_h) <= page_of(end_of_rows, page_h)) return;
    if (page_of(first, page_h) > 0 && page_of(first, page_h) == page_of(end_of_rows, page_h)) {
        break_before(last);
        return;
    }
    // The table runs over from an earlier page: its last rows go over with the
    // signature, as a table of their own under the same headings.
    const int headers = last->format().headerRowCount();
    const int moved = std::max(headers + 1, last->rows() - 2);
    if (page_of(row_top(doc, last, moved), page_h) != page_of(end_of_rows, page_h)) return;
    QTextCursor whole(doc);
    whole.setPosition(last->firstPosition() - 1);
    whole.setPosition(last->lastPosition() + 1, QTextCursor::KeepAnchor);
    const QTextDocumentFragment copy(whole);
    QTextCursor at(doc);
    at.setPosition(last->lastPosition() + 1);
    at.insertFragment(copy);
    QTextTable* rest_of_rows = nullptr;
    for (QTextTable* t : headed_tables(doc))
        if (t != last && t->firstPosition() > last->lastPosition()) rest_of_rows = t;
    if (!rest_of_rows) return;
    rest_of_rows->removeRows(headers, moved - headers);
    last->removeRows(moved, last->rows() - moved);
    QTextTableFormat format = rest_of_rows->format();
    format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    format.setProperty(kContinuedTable, true);
    rest_of_rows->setFormat(format);
}

// Where a table runs on to a page, its repeated first heading row (the
// heading's rectangle in that page's body coordinates; only its top and height count).
struct ContinuedHeading {
    int page;
    QRectF heading;
};

QList<ContinuedHeading> continued_headings(QTextDocument* doc, double page_h) {
    QList<ContinuedHeading> out;
    for (QTextTable* t : headed_tables(doc)) {
        const int headers = t->format().headerRowCount();
        if (t->rows() <= headers) continue;
        const double top = row_top(doc, t, 0);
        const double heading_h = row_top(doc, t, 1) - top;
        const double headers_h = row_top(doc, t, headers) - top;
        int page = page_of(row_top(doc, t, headers), page_h);
        if (t->format().boolProperty(kContinuedTable))
            out << ContinuedHeading{page, QRectF(0, top - page * page_h, 0, heading_h)};
        for (int r = headers + 1; r < t->rows(); ++r) {
            const double y = row_top(doc, t, r);
            if (page_of(y, page_h) == page) continue;
            page = page_of(y, page_h);
            out << ContinuedHeading{page, QRectF(0, y - headers_h - page * page_h, 0, heading_h)};
        }
    }
    return out;
}

} // namespace

void apply_page_settings(const ReportFile& file, QPagedPaintDevice* device) {
    device->setPageLayout(
        QPageLayout(QPageSize(file.page_size), file.orientation, file.margins_mm, QPageLayout::Millimeter));
}

int paint_report(const PreparedReport& r, QPagedPaintDevice* device) {
    const QRectF area = device->pageLayout().paintRectPixels(device->logicalDpiX());
    const double width = area.width();
    const double per_mm = device->logicalDpiX() / 25.4;
    const double gap = 3 * per_mm; // between the bands and the body

    auto header = make_document(r, r.header_html, device, width);
    const double header_top = r.file.header_top_mm * per_mm;
    const double header_h = std::max(header_top + header->size().height(), r.file.header_min_mm * per_mm);
    // The footer's height does not depend on the page number's digits enough to matter.
    auto footer_probe = make_document(r, r.footer_html(1, 1), device, width);
    const double footer_h = std::max(footer_probe->size().height(), r.file.footer_min_mm * per_mm);

    const double body_top = header_h > 0 ? header_h + gap : 0;
    const double body_h = area.height() - body_top - (footer_h > 0 ? footer_h + gap : 0);
    auto body = make_document(r, r.body_html, device, width, body_h);
    keep_headings_with_their_rows(body.get(), body_h);
    const int pages = std::max(1, body->pageCount());
    const QList<ContinuedHeading> continued = continued_headings(body.get(), body_h);

    QPainter p;
    if (!p.begin(device)) return 0;
    p.setRenderHint(QPainter::Antialiasing);
    for (int page = 0; page < pages; ++page) {
        if (page > 0) device->newPage();
        p.save();
        p.translate(0, header_top);
        header->drawContents(&p, QRectF(0, 0, width, header_h - header_top));
        p.restore();

        p.save();
        p.translate(0, body_top - page * body_h);
        body->drawContents(&p, QRectF(0, page * body_h, width, body_h));
        p.restore();
        // A table's heading repeated at the top of a page it runs on to.
        for (const ContinuedHeading& c : continued) {
            if (c.page != page) continue;
            p.save();
            QFont italic(QStringLiteral("DejaVu Sans"), 9);
            italic.setItalic(true);
            p.setFont(italic);
            p.setPen(QColor(0x4b, 0x5c, 0x68));
            p.drawText(QRectF(0, body_top + c.heading.top(), width, c.heading.height()),
                       Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("(continued)"));
            p.restore();
        }

        auto footer = make_document(r, r.footer_html(page + 1, pages), device, width);
        p.save();
        p.translate(0, area.height() - footer_h);
        footer->drawContents(&p, QRectF(0, 0, width, footer_h));
        p.restore();
    }
    p.end();
    return pages;
}

QString write_pdf(const PreparedReport& r, const QString& pdf_path) {
    // Patient data: the owner and the laboratory's group read it, nobody
    // else, from its first byte on (the writer keeps the mode of the file).
    if (QFile f(pdf_path); f.open(QIODevice::WriteOnly)) f.setPermissions(kPatientCopyMode);
    QPdfWriter writer(pdf_path);
    writer.setResolution(300);
    writer.setTitle(r.file.title);
    writer.setCreator(QStringLiteral("Tavora Lab"));
    apply_page_settings(r.file, &writer);
    if (paint_report(r, &writer) == 0)
        return QStringLiteral("The PDF file %1 cannot be written.").arg(QDir::toNativeSeparators(pdf_path));
    QFile::setPermissions(pdf_path, kPatientCopyMode);
    return {};
}
