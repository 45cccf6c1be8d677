#include "report_layout.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFileInfo>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>

#include <memory>

namespace {

std::unique_ptr<QTextDocument> make_document(const PreparedReport& r, const QString& html,
                                             QPaintDevice* device, double width) {
    auto doc = std::make_unique<QTextDocument>();
    doc->documentLayout()->setPaintDevice(device);
    doc->setDocumentMargin(0);
    doc->setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    doc->setBaseUrl(QUrl::fromLocalFile(r.file.folder + u'/'));
    doc->setDefaultStyleSheet(r.file.style);
    doc->setHtml(html);
    doc->setTextWidth(width);
    return doc;
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
    auto body = make_document(r, r.body_html, device, width);
    body->setPageSize(QSizeF(width, body_h));
    const int pages = std::max(1, body->pageCount());

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
    QPdfWriter writer(pdf_path);
    writer.setResolution(300);
    writer.setTitle(r.file.title);
    writer.setCreator(QStringLiteral("Tavora Lab"));
    apply_page_settings(r.file, &writer);
    if (paint_report(r, &writer) == 0)
        return QStringLiteral("The PDF file %1 cannot be written.").arg(QDir::toNativeSeparators(pdf_path));
    return {};
}
