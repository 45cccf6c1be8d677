#include "report_engine.h"

#include "connection.h"
#include "file_dialogs.h"
#include "message_box.h"
#include "prepared_report.h"
#include "report_layout.h"

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>

namespace {

// The preview owns its printer and the prepared report; it deletes itself when
// closed. It opens zoomed to the page's width within the screen it opens on;
// Ctrl+P prints and Ctrl+S saves as PDF, and Tab reaches every control.
class ReportPreview : public QPrintPreviewDialog {
public:
    ReportPreview(PreparedReport report, std::unique_ptr<QPrinter> printer)
        : QPrintPreviewDialog(printer.get()), report_(std::move(report)), printer_(std::move(printer)) {
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(report_.file.title.isEmpty() ? QStringLiteral("Report") : report_.file.title);
        connect(this, &QPrintPreviewDialog::paintRequested, this,
                [this](QPrinter* p) { paint_report(report_, p); });
        if (auto* bar = findChild<QToolBar*>()) {
            QAction* pdf = bar->addAction(QStringLiteral("Save as PDF"));
            pdf->setObjectName(QStringLiteral("save_as_pdf"));
            connect(pdf, &QAction::triggered, this, [this] { save_as_pdf(); });
            for (QAction* a : bar->actions()) {
                if (a->text().remove(u'&') == QLatin1String("Print"))
                    a->setObjectName(QStringLiteral("print"));
                if (!a->toolTip().isEmpty() && a->text().isEmpty()) a->setText(a->toolTip());
            }
            shortcut(QKeySequence::Print, QStringLiteral("print"));
            shortcut(QKeySequence::Save, QStringLiteral("save_as_pdf"));
            // The toolbar's buttons take the focus by Tab, each named by its action.
            for (QToolButton* b : bar->findChildren<QToolButton*>()) {
                b->setFocusPolicy(Qt::TabFocus);
                if (b->defaultAction()) b->setAccessibleName(b->defaultAction()->text().remove(u'&'));
            }
        }
        fit_to_screen();
    }

private:
    void shortcut(const QKeySequence& keys, const QString& action_name) {
        QAction* action = findChild<QAction*>(action_name);
        if (!action) return;
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        action->setToolTip(QStringLiteral("%1 (%2)").arg(action->text().remove(u'&'),
                                                         keys.toString(QKeySequence::NativeText)));
    }

    void fit_to_screen() {
        // Never larger than the screen's free area (a laptop's panel left
        // room for), zoomed so one page's width fills the preview.
        QRect free(0, 0, 900, 1000);
        if (QScreen* screen = QGuiApplication::primaryScreen()) free = screen->availableGeometry();
        const QSize size(std::min(900, free.width() - 40), std::min(1000, free.height() - 60));
        resize(size);
        move(free.center() - rect().center());
        if (auto* view = findChild<QPrintPreviewWidget*>())
            view->setZoomMode(QPrintPreviewWidget::FitToWidth);
    }

    void save_as_pdf() {
        const QString path = choose_save_file(QStringLiteral("Save as PDF"),
                                              QDir(documents_folder()).filePath(report_.suggested_name),
                                              QStringLiteral("PDF files (*.pdf)"));
        if (path.isEmpty()) return;
        const QString failure = write_pdf(report_, path);
        if (!failure.isEmpty()) show_message(failure);
    }

    PreparedReport report_;
    std::unique_ptr<QPrinter> printer_;
};

} // namespace

QString PreviewEngine::run() {
    Prepared prepared = prepare_report({file_name(), selection()}, database_file_path());
    if (!prepared.report) return prepared.error;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setDocName(prepared.report->suggested_name);
    apply_page_settings(prepared.report->file, printer.get());
    auto* preview = new ReportPreview(std::move(*prepared.report), std::move(printer));
    preview->setWindowModality(Qt::NonModal);
    preview->show();
    return {};
}

void use_preview_engine() {
    set_preview_engine([] { return std::make_unique<PreviewEngine>(); });
}
