#include "utility_screen.h"

#include "app_state.h"
#include "artwork.h"
#include "backup.h"
#include "boxes.h"
#include "connection.h"
#include "credentials.h"
#include "failure_messages.h"
#include "journal.h"
#include "lab_reports.h"
#include "list_panel.h"
#include "message_box.h"
#include "prepared_report.h"
#include "report_engine.h"
#include "screen_registry.h"

#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QFutureWatcher>
#include <QProgressDialog>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <limits>
#include <memory>

namespace {

// The screen's picture controls: a label drawn on a large tile.
struct Picture {
    const char* name;
    const char* label; // with its Alt accelerator
    int row, column;
    void (UtilityScreen::*action)();
};

constexpr Picture kPictures[] = {
    {"backup", "&Backup", 0, 0, &UtilityScreen::backup},
    {"Image1", "&Empty report", 0, 1, &UtilityScreen::empty_report},
    {"Image2", "print with &Header", 0, 2, &UtilityScreen::header_option},
    {"Command3", "&Print", 1, 1, &UtilityScreen::show_patient_panel},
    {"Image4", "&Temperory patient list", 2, 0, &UtilityScreen::temporary_reports},
    {"Image3", "&All patient list", 2, 2, &UtilityScreen::all_reports},
    {"Command1", "E&xit", 3, 1, &UtilityScreen::exit},
};

QPushButton* picture(QWidget* parent, const Picture& p) {
    auto* b = new QPushButton(QString::fromLatin1(p.label), parent);
    b->setObjectName(QString::fromLatin1(p.name));
    b->setAccessibleName(QString::fromLatin1(p.label).remove(u'&'));
    b->setMinimumSize(200, 72);
    QFont f = b->font();
    f.setPixelSize(16);
    f.setBold(true);
    b->setFont(f);
    b->setStyleSheet(QStringLiteral("QPushButton { background: #0f766e; color: white; border-radius: 8px; }"
                                    "QPushButton:focus { border: 3px solid #f2c14e; }"
                                    "QPushButton:pressed { background: #0b5a54; }"));
    return b;
}

} // namespace

UtilityScreen::UtilityScreen(QWidget* parent)
    : QWidget(parent), engine_(make_report_engine()), backup_folder_(default_backup_folder()) {
    setObjectName(QString::fromLatin1(kUtilityScreen));
    setWindowTitle(QStringLiteral("Utility"));
    apply_screen_look(this);
    resize(960, 520);

    auto* grid = new QGridLayout(this);
    grid->setSpacing(18);
    grid->setContentsMargins(28, 28, 28, 28);
    for (const Picture& p : kPictures) {
        QPushButton* b = picture(this, p);
        grid->addWidget(b, p.row, p.column);
        connect(b, &QPushButton::clicked, this, p.action);
    }
    print_ = findChild<QPushButton*>(QStringLiteral("Command3"));

    // Frame2 lies over the Print picture when shown.
    patient_panel_ = new QFrame(this);
    patient_panel_->setObjectName(QStringLiteral("Frame2"));
    patient_panel_->setFrameShape(QFrame::StyledPanel);
    patient_panel_->setAutoFillBackground(true);
    auto* label = new QLabel(QStringLiteral("Patient id"), patient_panel_);
    label->setObjectName(QStringLiteral("Label1"));
    patient_id_ = new QLineEdit(patient_panel_);
    patient_id_->setObjectName(QStringLiteral("Text1"));
    patient_id_->setAccessibleName(QStringLiteral("Patient id"));
    label->setBuddy(patient_id_);
    auto* ok = named_button(patient_panel_, "Command4", "&O.K.");
    connect(ok, &QPushButton::clicked, this, &UtilityScreen::build_consolidated);
    connect(patient_id_, &QLineEdit::returnPressed, ok, &QPushButton::click);
    auto* row = new QHBoxLayout(patient_panel_);
    row->addWidget(label);
    row->addWidget(patient_id_);
    row->addWidget(ok);
    grid->addWidget(patient_panel_, 1, 1);
    patient_panel_->hide();
    // Three equal columns, whatever the panel over Print asks for: the
    // pictures beside it keep their whole captions.
    for (int column = 0; column < 3; ++column)
        grid->setColumnStretch(column, 1);
    patient_panel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    list_ = new ListPanel(this, "Frame1", "DataGrid1", "Command2");
    connect(list_, &ListPanel::row_clicked, this, &UtilityScreen::row_clicked);
    enter_presses_buttons(this);
}

UtilityScreen::~UtilityScreen() = default;

void UtilityScreen::backup() {
    // The copy and its check run on a thread of their own; the window keeps
    // painting under a busy indicator that names the file's size, and takes
    // no other command until the backup is done.
    if (backing_up_) return;
    backing_up_ = true;
    setEnabled(false);
    const qint64 bytes = QFileInfo(database_file_path()).size();
    // The dialog is gone before the outcome is told: its own timer (Qt shows
    // a progress dialog by itself after four seconds) must not bring it back
    // over the message.
    auto progress_owner = std::make_unique<QProgressDialog>(this);
    QProgressDialog& progress = *progress_owner;
    progress.setObjectName(QStringLiteral("backup_progress"));
    progress.setWindowTitle(QStringLiteral("Backup"));
    progress.setLabelText(
        QStringLiteral("Backing up the database (%1)...").arg(locale().formattedDataSize(bytes)));
    progress.setRange(0, 0); // busy: how long the copy takes is not known
    progress.setCancelButton(nullptr);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(std::numeric_limits<int>::max()); // shown by the timer below, not by Qt
    QTimer show_later;
    show_later.setSingleShot(true);
    connect(&show_later, &QTimer::timeout, &progress, &QWidget::show);
    show_later.start(300); // a quick backup never flashes a dialog

    QFutureWatcher<BackupResult> watcher;
    QEventLoop wait;
    connect(&watcher, &QFutureWatcherBase::finished, &wait, &QEventLoop::quit);
    const QString folder = backup_folder_, source = database_file_path();
    watcher.setFuture(QtConcurrent::run([folder, source] { return back_up_database(folder, source); }));
    if (!watcher.isFinished()) wait.exec();
    show_later.stop();
    progress_owner.reset();
    setEnabled(true);
    backing_up_ = false;
    const BackupResult result = watcher.result();
    show_message(backup_message(result), MessageButtons::Ok, QString::fromLatin1(kAppTitle),
                 result.outcome == BackupResult::Outcome::Done ? QDir::toNativeSeparators(result.file)
                                                               : QString());
}

void UtilityScreen::empty_report() {
    print_report(*engine_, empty_report_request());
}

void UtilityScreen::header_option() {
    app_state().print_with_header =
        show_message(QStringLiteral("This action will print all reports with header"),
                     MessageButtons::OkCancel) == MessageAnswer::Ok;
}

void UtilityScreen::all_reports() {
    show_list(false);
}

void UtilityScreen::temporary_reports() {
    show_list(true);
}

void UtilityScreen::show_list(bool temporary) {
    list_->set_caption(QString::fromLatin1(temporary ? kTemporaryPatientsCaption : kAllPatientsCaption));
    list_->grid()->setColumnHidden(6, false);
    // Noted before the list is read: a deletion then refuses a report changed since.
    auto mark = journal_mark();
    if (report_failure(mark.error, QStringLiteral("Listing the reports"))) return;
    listed_at_ = mark.value;
    if (!list_->show_list(temporary ? temporary_reports_list() : all_reports_list(),
                          QStringLiteral("Listing the reports")))
        return;
    if (temporary) list_->grid()->setColumnHidden(6, true);
}

void UtilityScreen::row_clicked(int row) {
    if (!logged_in_may(Right::DeleteTemporary)) return;
    if (list_->caption() != QLatin1String(kTemporaryPatientsCaption)) return;
    const QString lab_id = list_->model()->cell(row, 0);
    ShownReport shown{{}, listed_at_};
    for (int c = 0; c < list_->model()->columnCount(); ++c)
        shown.cells << list_->model()->cell(row, c);
    if (show_message(QStringLiteral("Are you sure you want to delete Lab. ID ") + lab_id,
                     MessageButtons::YesNo) != MessageAnswer::Yes)
        return;
    const auto id = typed_id(lab_id);
    if (!id) return;
    const DbError e = delete_report(current_actor(), *id, shown);
    if (e.changed()) {
        show_message(
            QStringLiteral("Another workstation changed this report since the list was read. Nothing "
                           "was deleted."));
        return;
    }
    if (e.kind == DbError::Kind::NotFound) {
        show_message(QStringLiteral("Record can not be found"));
        return;
    }
    if (report_failure(e, QStringLiteral("Deleting the report"))) return;
    show_message(QStringLiteral("Report is deleted"));
    list_->hide();
}

void UtilityScreen::show_patient_panel() {
    patient_panel_->show();
    patient_panel_->raise();
    patient_id_->setFocus();
}

void UtilityScreen::build_consolidated() {
    const QString typed = trim_blanks(patient_id_->text());
    if (typed.isEmpty()) {
        show_message(QStringLiteral("No ID given"));
        return;
    }
    bool digits = true, in_range = false;
    for (QChar c : typed)
        digits &= c.isDigit() && c.unicode() < 128;
    const qint64 patient = typed.toLongLong(&in_range, 10);
    if (!digits || !in_range) {
        show_message(QStringLiteral("The patient id must be a whole number."));
        return;
    }
    // The fill and the report's reading of temp are one transaction: another
    // workstation's build waits, so each prints its own patient's rows.
    QString print_failure;
    const DbError e = in_transaction([&]() -> DbError {
        if (DbError fill = fill_consolidated(patient); !fill.ok()) return fill;
        ReportsReadSharedConnection own_rows;
        print_failure = run_report(*engine_, consolidated_report_request());
        return {};
    });
    if (report_failure(e, QStringLiteral("Building the consolidated report"))) return;
    patient_panel_->hide();
    patient_id_->clear();
    tell_print_failure(print_failure);
}

void UtilityScreen::exit() {
    close();
}

void UtilityScreen::closeEvent(QCloseEvent* event) {
    if (backing_up_) { // the backup's code still runs on this screen
        event->ignore();
        return;
    }
    if (!screens::ending()) screens::open(QString::fromLatin1(kMainMenu));
    QWidget::closeEvent(event);
}

void register_utility_screen() {
    screens::add(QString::fromLatin1(kUtilityScreen), [] { return new UtilityScreen; });
}
