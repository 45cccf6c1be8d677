#include "report_engine.h"

#include "preview_dialog.h"

#include "connection.h"
#include "file_dialogs.h"
#include "message_box.h"
#include "orders.h"
#include "prepared_report.h"
#include "report_layout.h"
#include "report_mail.h"

#include <QAction>
#include <QDir>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QInputDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// The preview owns its printer and the prepared report; it deletes itself when
// closed. It opens zoomed to the page's width within the screen it opens on;
// Ctrl+P prints and Ctrl+S saves as PDF, and Tab reaches every control.
class ReportPreview : public QPrintPreviewDialog {
public:
    ReportPreview(PreparedReport report, std::unique_ptr<QPrinter> printer, std::optional<qint64> lab_id)
        : QPrintPreviewDialog(printer.get()), report_(std::move(report)), printer_(std::move(printer)),
          lab_id_(lab_id) {
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(report_.file.title.isEmpty() ? QStringLiteral("Report") : report_.file.title);
        connect(this, &QPrintPreviewDialog::paintRequested, this,
                [this](QPrinter* p) { paint_report(report_, p); });
        dress_preview(
            this, [this] { save_as_pdf(); },
            [this](QToolBar* bar) {
                if (!lab_id_) return;
                // One saved report: it can go to its doctor or patient by e-mail.
                QAction* mail = bar->addAction(QStringLiteral("&E-mail"));
                mail->setObjectName(QStringLiteral("e_mail"));
                mail->setShortcut(QKeySequence(Qt::ALT | Qt::Key_E));
                mail->setShortcutContext(Qt::WindowShortcut);
                addAction(mail);
                connect(mail, &QAction::triggered, this, [this] { e_mail(); });
            });
        // The dialog is accepted once its report went to the printer.
        connect(this, &QDialog::accepted, this, [this] { printed(); });
        fit_to_screen();
    }

private:
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
        if (!failure.isEmpty()) return (void)show_message(failure);
        printed();
    }

    // An ordered test's report on paper (or in a PDF) for the first time is
    // the last step its turnaround times. The report is out already: a
    // database that cannot take the time only loses that time.
    void printed() {
        if (lab_id_) note_printed(*lab_id_);
    }

    // The report as previewed goes to an address chosen from the patient's
    // stored one or typed; it is sent off this window's thread, under a busy
    // indicator, and the outcome told (and journalled once the server took it).
    void e_mail() {
        if (sending_) return;
        const MailSettings settings = mail_settings();
        if (!settings.configured) return (void)show_message(mail_setup_help());
        bool chosen = false;
        const QString to =
            QInputDialog::getItem(this, QStringLiteral("E-mail the report"), QStringLiteral("&Send to"),
                                  report_recipients(*lab_id_), 0, true, &chosen)
                .trimmed();
        if (!chosen) return;
        const ReportMail made = report_mail(*lab_id_, to, settings, &report_);
        if (!made.problem.isEmpty()) return (void)show_message(made.problem);
        sending_ = true;
        auto* progress =
            new QProgressDialog(QStringLiteral("Sending the report to %1...").arg(to), QString(), 0, 0, this);
        progress->setObjectName(QStringLiteral("mail_progress"));
        progress->setWindowTitle(QStringLiteral("E-mail"));
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(300);
        auto* watcher = new QFutureWatcher<QString>(this);
        connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, progress, to, made] {
            delete progress; // gone before the outcome is told
            const QString failure = watcher->result();
            watcher->deleteLater();
            sending_ = false;
            if (!failure.isEmpty()) return (void)show_message(failure);
            const DbError journalled = journal_mail(*lab_id_, to, made.mail.subject);
            show_message(journalled.ok() ? QStringLiteral("Sent to %1").arg(to)
                                         : QStringLiteral("Sent to %1, but the journal did not take it: %2")
                                               .arg(to, journalled.description));
        });
        watcher->setFuture(
            QtConcurrent::run([settings, mail = made.mail] { return send_mail(settings, mail); }));
    }

    PreparedReport report_;
    std::unique_ptr<QPrinter> printer_;
    std::optional<qint64> lab_id_;
    bool sending_ = false;
};

// The lab id of a request for one saved report ({test_main.lab_ID} = N).
std::optional<qint64> one_report(const std::optional<Selection>& selection) {
    if (!selection || selection->table.compare(QLatin1String("test_main"), Qt::CaseInsensitive) != 0 ||
        selection->field.compare(QLatin1String("lab_ID"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    bool number = false;
    const qint64 id = selection->value.toLongLong(&number);
    return number ? std::optional(id) : std::nullopt;
}

// A shortcut for the named action of the preview, given in its tooltip too.
void shortcut(QPrintPreviewDialog* dialog, const QKeySequence& keys, const QString& action_name) {
    QAction* action = dialog->findChild<QAction*>(action_name);
    if (!action) return;
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    dialog->addAction(action);
    action->setToolTip(
        QStringLiteral("%1 (%2)").arg(action->text().remove(u'&'), keys.toString(QKeySequence::NativeText)));
}

} // namespace

void dress_preview(QPrintPreviewDialog* dialog, const std::function<void()>& save_as_pdf,
                   const std::function<void(QToolBar*)>& more) {
    auto* bar = dialog->findChild<QToolBar*>();
    if (!bar) return;
    QAction* pdf = bar->addAction(QStringLiteral("Save as PDF"));
    pdf->setObjectName(QStringLiteral("save_as_pdf"));
    QObject::connect(pdf, &QAction::triggered, dialog, save_as_pdf);
    if (more) more(bar);
    for (QAction* a : bar->actions()) {
        if (a->text().remove(u'&') == QLatin1String("Print")) a->setObjectName(QStringLiteral("print"));
        if (!a->toolTip().isEmpty() && a->text().isEmpty()) a->setText(a->toolTip());
    }
    shortcut(dialog, QKeySequence::Print, QStringLiteral("print"));
    shortcut(dialog, QKeySequence::Save, QStringLiteral("save_as_pdf"));
    // The toolbar's buttons take the focus by Tab, each named by its action.
    for (QToolButton* b : bar->findChildren<QToolButton*>()) {
        b->setFocusPolicy(Qt::TabFocus);
        if (b->defaultAction()) b->setAccessibleName(b->defaultAction()->text().remove(u'&'));
    }
}

QString PreviewEngine::run() {
    Prepared prepared = prepare_report({file_name(), selection()}, database_file_path());
    if (!prepared.report) return prepared.error;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setDocName(prepared.report->suggested_name);
    apply_page_settings(prepared.report->file, printer.get());
    auto* preview =
        new ReportPreview(std::move(*prepared.report), std::move(printer), one_report(selection()));
    preview->setWindowModality(Qt::NonModal);
    preview->show();
    return {};
}

void use_preview_engine() {
    set_preview_engine([] { return std::make_unique<PreviewEngine>(); });
}
