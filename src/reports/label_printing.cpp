#include "label_printing.h"

#include "file_dialogs.h"
#include "message_box.h"
#include "preview_dialog.h"
#include "report_engine.h"

#include <QDir>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>

namespace {

LabelPrinter& printer() {
    static LabelPrinter p;
    return p;
}

// The labels in the print preview, modal over the window that printed them:
// Ctrl+P prints, Ctrl+S saves them as a PDF, Tab reaches every button.
void preview(const QList<LabelContent>& labels, QWidget* parent) {
    QPrinter device(QPrinter::HighResolution);
    device.setDocName(QStringLiteral("Sample labels"));
    const LabelSize size = label_size();
    QString failure;
    QPrintPreviewDialog dialog(&device, parent);
    dialog.setWindowTitle(QStringLiteral("Sample labels"));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [&](QPrinter* p) { failure = paint_labels(labels, size, p); });
    dress_preview(&dialog, [&] {
        const QString path = choose_save_file(QStringLiteral("Save as PDF"),
                                              QDir(documents_folder()).filePath(QStringLiteral("labels.pdf")),
                                              QStringLiteral("PDF files (*.pdf)"));
        if (path.isEmpty()) return;
        if (const QString e = write_labels_pdf(labels, size, path); !e.isEmpty()) show_message(e);
    });
    if (auto* view = dialog.findChild<QPrintPreviewWidget*>())
        view->setZoomMode(QPrintPreviewWidget::FitInView);
    dialog.exec();
    if (!failure.isEmpty()) show_message(failure);
}

} // namespace

void print_labels(const QList<LabelContent>& labels, QWidget* parent) {
    if (printer())
        printer()(labels, parent);
    else
        preview(labels, parent);
}

void set_label_printer(LabelPrinter p) {
    printer() = std::move(p);
}
