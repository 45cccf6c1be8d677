#include "label_printing.h"

#include "file_dialogs.h"
#include "message_box.h"
#include "report_engine.h"

#include <QAction>
#include <QDir>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <QToolButton>

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
    if (auto* bar = dialog.findChild<QToolBar*>()) {
        QAction* pdf = bar->addAction(QStringLiteral("Save as PDF"));
        pdf->setShortcut(QKeySequence::Save);
        QObject::connect(pdf, &QAction::triggered, &dialog, [&] {
            const QString path =
                choose_save_file(QStringLiteral("Save as PDF"),
                                 QDir(documents_folder()).filePath(QStringLiteral("labels.pdf")),
                                 QStringLiteral("PDF files (*.pdf)"));
            if (path.isEmpty()) return;
            if (const QString e = write_labels_pdf(labels, size, path); !e.isEmpty()) show_message(e);
        });
        for (QAction* a : bar->actions()) {
            if (a->text().remove(u'&') == QLatin1String("Print")) a->setShortcut(QKeySequence::Print);
            if (!a->shortcut().isEmpty()) {
                a->setShortcutContext(Qt::WindowShortcut);
                dialog.addAction(a);
            }
        }
        for (QToolButton* b : bar->findChildren<QToolButton*>()) {
            b->setFocusPolicy(Qt::TabFocus);
            if (b->defaultAction()) b->setAccessibleName(b->defaultAction()->text().remove(u'&'));
        }
    }
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
