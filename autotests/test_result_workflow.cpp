// The workflow every result screen shares, on the plain class that decides
// it, once over every definition of the catalogue: no widgets.
#include "session_support.h"

#include "result_fixtures.h"

#include "accounts.h"
#include "analyzer_review.h"
#include "app_state.h"
#include "connection.h"
#include "core_tables.h"
#include "critical_calls.h"
#include "dates.h"
#include "journal.h"
#include "lab_reports.h"
#include "records.h"
#include "result_workflow.h"
#include "settings.h"
#include "typed_text.h"

#include <QSqlQuery>
#include <QTemporaryFile>

#include <memory>

class TestResultWorkflow : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<MessageRecorder> messages_;
    std::unique_ptr<CallAnswers> calls_;
    PrintLog prints_;
    std::unique_ptr<ResultWorkflow> flow_;

    ResultForm& form() { return flow_->form(); }
    const TestDefinition& fetched() {
        QFETCH(int, test);
        return *test_catalogue()[test];
    }
    ResultWorkflow& open(const TestDefinition& t, Kind kind = Kind::New) {
        app_state().register_on_save = kind != Kind::Old;
        app_state().mark_temporary = kind == Kind::WalkIn;
        flow_ = std::make_unique<ResultWorkflow>(t);
        flow_->open();
        return *flow_;
    }
    // A new report with the patient's name and one result in box 0.
    void fill(const QString& name = "Asha D'Souza") {
        form().name = name;
        form().results[0] = result_value(flow_->test());
    }
    void look_up(const QString& lab_id) {
        flow_->show_mode();
        form().lab_id = lab_id;
        flow_->lab_id_lookup();
    }
    QString table() const { return QString::fromLatin1(flow_->test().investigation->table); }

private slots:
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        messages_ = std::make_unique<MessageRecorder>();
        calls_ = std::make_unique<CallAnswers>();
        prints_.clear();
        prints_.record();
        set_today_for_tests({});
    }
    void cleanup() {
        flow_.reset();
        record_report_runs(nullptr);
        calls_.reset();
        messages_.reset();
        folder_.reset();
        set_today_for_tests({});
    }

    void opens_with_fresh_ids_data() { catalogue_rows(); }
    void a_save_reserves_the_ids_offered_next();
    void opens_with_fresh_ids();
    void save_stores_the_report_once_data() { catalogue_rows(); }
    void save_stores_the_report_once();
    void nothing_is_written_without_name_or_results_data() { catalogue_rows(); }
    void nothing_is_written_without_name_or_results();
    void a_lost_race_keeps_the_typed_report_data() { catalogue_rows(); }
    void a_lost_race_keeps_the_typed_report();
    void a_report_goes_only_to_the_patient_on_screen_data() { catalogue_rows(); }
    void a_report_goes_only_to_the_patient_on_screen();
    void look_up_and_modify_data() { catalogue_rows(); }
    void look_up_and_modify();
    void who_may_not_enter_results_is_refused_on_every_screen_data() { catalogue_rows(); }
    void who_may_not_enter_results_is_refused_on_every_screen();
    void a_pathologist_verifies_and_a_change_undoes_it();
    void a_critical_result_is_told_and_its_call_recorded();
    void every_shipped_analyzer_code_fills_its_box();
    void analyzer_results_are_reviewed_and_taken_with_the_report();
    void pending_results_are_listed_ready_first();
};

void TestResultWorkflow::a_save_reserves_the_ids_offered_next() {
    // Save reserves, in its own transaction, the ids its screen offers after
    // Clear: a screen opened meanwhile is offered the ones after them.
    ResultWorkflow& first = open(*test_catalogue()[0]);
    ResultWorkflow second(first.test());
    second.open();
    QCOMPARE(second.form().lab_id, QString("2"));
    fill();
    first.save();
    QCOMPARE(messages_->shown.value(0).text, QString("New report added"));
    ResultWorkflow third(first.test());
    third.open();
    QCOMPARE(third.form().lab_id, QString("4"));
    QCOMPARE(third.form().patient_id, QString("4"));
    first.clear();
    QCOMPARE(first.form().lab_id, QString("3"));
    QCOMPARE(first.form().patient_id, QString("3"));
    // Nobody else open: the next is the largest stored + 1 again.
    flow_.reset();
    third.show_mode(); // ids are typed there now
    second.clear();
    QCOMPARE(second.form().lab_id, QString("2"));
    QCOMPARE(second.form().patient_id, QString("2"));
}

void TestResultWorkflow::opens_with_fresh_ids() {
    const TestDefinition& t = fetched();
    {
        // Two screens open at once are offered different ids; closed, they give them back.
        app_state().register_on_save = true;
        ResultWorkflow first(t), second(t);
        first.open();
        second.open();
        QCOMPARE(first.form().lab_id, QString("1"));
        QCOMPARE(second.form().lab_id, QString("2"));
        QCOMPARE(second.form().patient_id, QString("2"));
    }
    QVERIFY(add_patient(kStaff, minimal_patient(41, "Old", "", "")).ok());
    QVERIFY(save_report(kStaff, {std::nullopt, {7, 41, "", "", "Serology", "", "N"}, "Serology", {}}).ok());
    QVERIFY(add_row("doctors", {{"name", "Dr. Rao"}}).ok());
    QVERIFY(add_row("doctors", {{"name", "Dr. Iyer"}}).ok());
    for (Kind kind : {Kind::New, Kind::Old}) {
        open(t, kind);
        const ResultForm& f = form();
        QCOMPARE(f.lab_id, QString("8"));
        QVERIFY(!f.lab_id_open);
        QCOMPARE(f.patient_id, kind == Kind::New ? QString("42") : QString());
        QCOMPARE(f.patient_id_open, kind == Kind::Old);
        QCOMPARE(flow_->take_focus(), kind == Kind::Old ? FormFocus::PatientId : FormFocus::Name);
        QCOMPARE(f.date, display_date(today()));
        QCOMPARE(f.age, QString("-"));
        QCOMPARE(f.sex, QString("-"));
        QCOMPARE(f.doctors, (QStringList{"Dr. Rao", "Dr. Iyer"}));
        QCOMPARE(f.doctor, QString("Dr. Rao"));
        QVERIFY(f.save_open && !f.modify_open && !f.list_open);
        for (int i = 0; i < int(t.items.size()); ++i)
            QCOMPARE(f.results[i], QString::fromUtf8(t.items[i].initial_text));
        // Clear leaves the patient id as the screen opened it: an old
        // patient's is typed again (the one looked up is not offered locked).
        if (kind == Kind::Old) {
            form().patient_id = "41";
            flow_->patient_lookup();
            QCOMPARE(f.name, QString("Old"));
        }
        flow_->take_focus();
        flow_->clear();
        QCOMPARE(f.patient_id.isEmpty(), kind == Kind::Old);
        QCOMPARE(f.patient_id_open, kind == Kind::Old);
        QCOMPARE(flow_->take_focus(), kind == Kind::Old ? FormFocus::PatientId : FormFocus::Name);
        QVERIFY(!f.lab_id.isEmpty() && !f.lab_id_open);
    }
    QVERIFY(messages_->shown.isEmpty());
}

void TestResultWorkflow::save_stores_the_report_once() {
    const TestDefinition& t = fetched();
    open(t, Kind::WalkIn);
    fill();
    form().doctor = "Dr. New";
    prints_.seen = [] { return doctor_stored("Dr. New"); };
    flow_->save();
    QCOMPARE(messages_->texts(), QStringList{"New report added"});
    QVERIFY(!form().save_open);

    auto report = find_report(1);
    QVERIFY(report.value);
    QCOMPARE(report.value->patient_id.toInt(), 1);
    QCOMPARE(report.value->test, QString::fromUtf8(t.investigation->test));
    QCOMPARE(report.value->t_date, today_iso());
    QCOMPARE(report.value->temp_patient, QString("Y"));
    QCOMPARE(report.value->ref_by, QString("Dr. New"));
    QCOMPARE(find_patient(1).value->patient_name, QString("Asha D'Souza"));
    const auto rows = report_results(table(), 1).value;
    QCOMPARE(rows.size(), t.store_every_box ? t.box_count : 1);
    QCOMPARE(rows[0].item, QString::fromUtf8(t.items[0].caption));
    QCOMPARE(rows[0].result, result_value(t));
    QCOMPARE(number_of("select count(*) from doctors where name = 'Dr. New'"), 1);

    // One print, of this report, on plain paper, before or after the doctor step.
    QCOMPARE(prints_.entries.size(), 1);
    QCOMPARE(prints_.entries[0].request.file_path,
             folder_->path() + QString::fromLatin1(t.investigation->report_file));
    QCOMPARE(prints_.entries[0].request.selection->value.toLongLong(), 1);
    QCOMPARE(prints_.entries[0].seen.isEmpty(), t.print_before_doctor);

    // Save works once per opening, whatever Clear does; Print follows the letter-head option.
    flow_->clear();
    QVERIFY(!form().save_open);
    app_state().print_with_header = true;
    form().lab_id = "1";
    QVERIFY(flow_->print());
    app_state().print_with_header = false;
    QCOMPARE(prints_.entries.last().request.file_path,
             folder_->path() + QString::fromLatin1(t.investigation->header_report_file));
}

void TestResultWorkflow::nothing_is_written_without_name_or_results() {
    const TestDefinition& t = fetched();
    open(t);
    form().results[0] = result_value(t);
    flow_->save();
    form().name = "Ravi";
    for (int i = 0; i < t.box_count; ++i)
        form().results[i] = "  ";
    flow_->save();
    QCOMPARE(messages_->texts(), (QStringList{t.missing_name_message, t.empty_report_message}));
    for (const QString& table : {QString("registration"), QString("test_main"), table()})
        QCOMPARE(number_of(QString("select count(*) from %1").arg(table)), 0);
    QVERIFY(form().save_open);
    QVERIFY(prints_.entries.isEmpty());
}

void TestResultWorkflow::a_lost_race_keeps_the_typed_report() {
    const TestDefinition& t = fetched();
    open(t, Kind::New);
    fill("Meera");
    form().remarks = "repeat sample";
    // Another workstation saves first, under the same patient and lab ids.
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("insert into registration (patient_id, patient_name) values (1, 'Other')"));
    QVERIFY(other.exec("insert into test_main (lab_id, patient_id, test) values (1, 1, 'Serology')"));
    flow_->save();
    QStringList expected{"ID already exists."};
    // The screens that show the database's code show the engine's own.
    const QString code = testing_on_server() ? "23505" : "1555";
    if (t.show_save_errors) expected = QStringList{code, messages_->texts().value(1), "ID already exists."};
    QCOMPARE(messages_->texts(), expected);
    if (t.show_save_errors) QVERIFY(messages_->texts()[1].contains("UNIQUE", Qt::CaseInsensitive));
    QCOMPARE(number_of("select count(*) from registration"), 1); // nothing of ours, not even the patient
    QCOMPARE(number_of(QString("select count(*) from %1").arg(table())), 0);
    // Fresh ids, everything typed kept: Save again stores it.
    QCOMPARE(form().lab_id, QString("2"));
    QCOMPARE(form().patient_id, QString("2"));
    QCOMPARE(form().results[0], result_value(t));
    QVERIFY(form().save_open);
    messages_->clear();
    flow_->save();
    QCOMPARE(messages_->texts(), QStringList{"New report added"});
    QCOMPARE(find_patient(2).value->patient_name, QString("Meera"));
    QCOMPARE(find_report(2).value->remarks, QString("repeat sample"));
    QCOMPARE(report_results(table(), 2).value.value(0).result, result_value(t));
}

void TestResultWorkflow::a_report_goes_only_to_the_patient_on_screen() {
    const TestDefinition& t = fetched();
    QVERIFY(add_patient(kStaff, minimal_patient(7, "Farah", "44", "F")).ok());
    QVERIFY(add_patient(kStaff, minimal_patient(8, "Other", "", "")).ok());
    open(t, Kind::Old);
    form().patient_id = "7";
    flow_->patient_lookup();
    QCOMPARE(form().name, QString("Farah"));
    QCOMPARE(form().sex, QString("F"));
    QCOMPARE(flow_->take_focus(), FormFocus::Doctor);
    form().results[0] = result_value(t);
    // An emptied box, another patient's number, or one that is no number,
    // with Farah's name still shown: nothing is stored, the number is
    // offered again for correction.
    for (const char* typed : {"", "8", "7x", " "}) {
        form().patient_id = typed;
        flow_->save();
        QCOMPARE(flow_->take_focus(), FormFocus::PatientIdSelected);
    }
    QCOMPARE(messages_->texts(), QStringList(4, "Patient ID does not exist"));
    QCOMPARE(number_of("select count(*) from test_main"), 0);
    QCOMPARE(number_of(QString("select count(*) from %1").arg(table())), 0);
    QVERIFY(form().save_open);
    QCOMPARE(form().results[0], result_value(t)); // nothing typed is lost
    form().patient_id = "7";
    messages_->clear();
    flow_->save();
    QCOMPARE(messages_->texts(), QStringList{"New report added"});
    QCOMPARE(find_report(1).value->patient_id.toInt(), 7);
    // Modify holds to the same rule.
    look_up("1");
    form().patient_id = "8";
    messages_->clear();
    flow_->modify();
    QCOMPARE(messages_->texts(), QStringList{"Patient ID does not exist"});
    QCOMPARE(find_report(1).value->patient_id.toInt(), 7);
    QCOMPARE(number_of("select count(*) from change_log where action = 'modify'"), 0);
}

void TestResultWorkflow::look_up_and_modify() {
    const TestDefinition& t = fetched();
    set_today_for_tests(QDate(2026, 12, 8));
    open(t, Kind::New);
    fill("Lata");
    form().age = "61";
    flow_->save();
    set_today_for_tests(QDate(2026, 12, 9));
    messages_->clear();

    open(t, Kind::New);
    look_up("1");
    QVERIFY2(messages_->shown.isEmpty(), qPrintable(messages_->texts().join('|')));
    QVERIFY(form().modify_open);
    QVERIFY(form().patient_id_open);
    QCOMPARE(form().name, QString("Lata"));
    QCOMPARE(form().age, QString("61"));
    QCOMPARE(form().date, display_date(QDate(2026, 12, 8)));
    QCOMPARE(form().results[0], result_value(t));
    QCOMPARE(flow_->take_focus(), FormFocus::PatientId);

    const int second = t.box_count > 1 && !t.items[1].disabled ? 1 : 0;
    const QString nine = plain_result(t, second, "9");
    form().results[second] = nine;
    flow_->modify();
    QCOMPARE(messages_->texts(), QStringList{"Report has been modified"});
    QStringList stored;
    for (const ResultRow& r : report_results(table(), 1).value)
        stored << r.result;
    QVERIFY2(stored.contains(nine), qPrintable(stored.join('|')));
    QCOMPARE(stored.contains(result_value(t)), second == 1);
    QCOMPARE(find_report(1).value->t_date, QString("2026-12-09"));
    QCOMPARE(find_report(1).value->temp_patient, QString("N"));
    // Modify ends with Clear: fresh locked ids, Modify off, the name box next.
    QCOMPARE(form().lab_id, QString("2"));
    QVERIFY(!form().lab_id_open);
    QVERIFY(!form().modify_open);
    QCOMPARE(flow_->take_focus(), FormFocus::Name);
}

void TestResultWorkflow::a_pathologist_verifies_and_a_change_undoes_it() {
    QVERIFY(add_user(database().value, kStaff,
                     {"meera", "Dr. Meera Rao", "MD (Pathology)", Role::Pathologist}, "Slide-42 stain")
                .ok());
    const struct {
        Role role;
        bool may_verify;
    } logins[] = {{Role::Technician, false}, {Role::Pathologist, true}};
    // A technician enters the report; it is not verified.
    app_state().account = Account{"tamor", "", "", Role::Technician};
    set_journal_user("tamor");
    open(definition_of(catalogue::kSerology));
    fill("Lata");
    flow_->save();
    for (const auto& l : logins) {
        app_state().account = Account{l.may_verify ? "meera" : "tamor", "", "", l.role};
        set_journal_user(app_state().account->login);
        open(definition_of(catalogue::kSerology));
        look_up("1");
        QVERIFY2(form().sign_off.startsWith("Entered by tamor on ") &&
                     form().sign_off.endsWith("; not verified"),
                 qPrintable(form().sign_off));
        QCOMPARE(form().verify_open, l.may_verify);
        messages_->clear();
        flow_->verify(); // a technician's press does nothing
        QCOMPARE(report_signoff(1).value.verified(), l.may_verify);
    }
    QCOMPARE(messages_->texts(), QStringList{"Report verified"});
    QVERIFY(form().sign_off.contains("; verified by meera on "));
    QVERIFY(!form().verify_open);
    QCOMPARE(report_signoff(1).value.entered_by, QString("tamor"));
    // A modification empties the verification, and the journal keeps who had verified.
    form().results[0] = "Weakly reactive";
    flow_->modify();
    QVERIFY(!report_signoff(1).value.verified());
    QCOMPARE(number_of("select count(*) from change_log where action = 'verify'"), 1);
    QCOMPARE(number_of("select count(*) from change_log where action = 'unverify' and " +
                       journal_value("verified_by") + " = 'meera'"),
             1);
    // A report changed by another workstation after the look-up is not verified.
    look_up("1");
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("update test_main set remarks = 'changed elsewhere' where lab_id = 1"));
    messages_->clear();
    flow_->verify();
    QVERIFY(messages_->texts().value(0).startsWith("Another workstation changed this report"));
    QVERIFY(!report_signoff(1).value.verified());
    QCOMPARE(form().name, QString("Lata")); // the stored report is shown again
    // Where the laboratory has a second person verify, who entered a report
    // is told who must verify it; elsewhere (the default) they verify it.
    QVERIFY(QSqlQuery(folder_->other_workstation())
                .exec("update report_signoff set entered_by = 'meera' where lab_id = 1"));
    for (const char* self : {"off", "on"}) {
        QVERIFY(set_setting(database().value, kSelfVerification, self).ok());
        look_up("1");
        messages_->clear();
        flow_->verify();
        const bool refused = QString(self) == "off";
        QCOMPARE(report_signoff(1).value.verified(), !refused);
        QVERIFY2(messages_->texts().value(0).contains("meera entered this report") == refused &&
                     messages_->texts().value(0).contains("another pathologist must verify it") == refused,
                 qPrintable(messages_->texts().join('|')));
    }
    app_state().account.reset();
}

void TestResultWorkflow::a_critical_result_is_told_and_its_call_recorded() {
    const TestDefinition& t = definition_of(catalogue::kBiochemistryReport);
    auto box = [&](const char* caption) {
        for (int i = 0; i < t.box_count; ++i)
            if (QString::fromUtf8(t.items[i].caption).startsWith(caption)) return i;
        return -1;
    };
    const int potassium = box("Serum Potassiun"), sodium = box("Serum sodium");
    set_journal_user("tamor");
    const QString too_high = "Potassium 6.8 (critical above 6.2)";
    auto told = [](const QString& findings) {
        return QString("%1. Inform the referring doctor now.").arg(findings);
    };
    // Saved with a critical result: told after the save's own message, and
    // asked for the call (here answered "not yet"), both before the print.
    open(t);
    form().name = "Lata";
    form().doctor = "Dr. Iyer";
    form().results[potassium] = "6.8 meq/L";
    QString at_print;
    prints_.while_printing = [&] {
        at_print = QString("%1 messages, %2 calls").arg(messages_->shown.size()).arg(calls_->asked.size());
    };
    flow_->save();
    QCOMPARE(at_print, QString("2 messages, 1 calls"));
    prints_.while_printing = {};
    QCOMPARE(messages_->texts(), (QStringList{"New report added", told("Critical value: " + too_high)}));
    QCOMPARE(calls_->asked.size(), 1);
    QCOMPARE(calls_->asked[0].informed_by, QString("tamor"));
    QCOMPARE(calls_->asked[0].informed_whom, QString("Dr. Iyer"));
    QCOMPARE(critical_call(1).value->findings, too_high);
    QVERIFY(!critical_call(1).value->called());
    // Several at once: one message. This time the call is recorded at once.
    calls_->answer = CallAnswer{"Asha", "Dr. Iyer", QDateTime(QDate(2026, 12, 9), QTime(10, 15)), true};
    open(t);
    form().name = "Ravi";
    form().results[potassium] = "6.8";
    form().results[sodium] = "118 meq/L";
    messages_->clear();
    flow_->save();
    QCOMPARE(messages_->texts().value(1),
             told("Critical values: Sodium 118 (critical below 120); " + too_high)); // in the screen's order
    QCOMPARE(critical_call(2).value->called_at, QString("2026-12-09T10:15:00"));
    QCOMPARE(critical_call(2).value->recorded_by, QString("tamor"));
    QVERIFY(critical_call(2).value->read_back); // read back by the recipient, journalled with the call
    QCOMPARE(number_of("select count(*) from change_log where action = 'critical call' and row_key = 2 and "
                       "cast(" +
                       journal_value("read_back") + " as text) in ('1', 'true')"),
             1);
    // A report without one raises nothing.
    open(t);
    fill("Meena");
    flow_->save();
    QVERIFY(!critical_call(3).value);
    // Waiting for a pathologist: the report whose doctor was not called comes first.
    QCOMPARE(critical_reports_to_verify().value, (QList<qint64>{1, 2}));

    // The call recorded later from the looked-up report.
    open(t);
    look_up("1");
    QVERIFY(form().call_open);
    QVERIFY2(form().sign_off.endsWith("\nCritical: " + too_high + " — doctor not called yet"),
             qPrintable(form().sign_off));
    calls_->answer = CallAnswer{"Asha", "Dr. Iyer", QDateTime(QDate(2026, 12, 9), QTime(11, 0))};
    flow_->record_call();
    QVERIFY(critical_call(1).value->called());
    QVERIFY(!form().call_open);
    QVERIFY2(form().sign_off.contains("Dr. Iyer informed by Asha on "), qPrintable(form().sign_off));
    QCOMPARE(number_of("select count(*) from change_log where action = 'critical call' and " +
                       journal_value("informed_whom") + " = 'Dr. Iyer'"),
             2);
    QCOMPARE(critical_reports_to_verify().value, (QList<qint64>{1, 2})); // both called: oldest first

    // Modified with the same findings: the call stands. With others: told and
    // asked again. With none: nothing waits any more.
    const int asked = int(calls_->asked.size());
    calls_->answer.reset();
    const struct {
        const char* potassium;
        QStringList said;
        bool waiting;
    } changes[] = {
        {"6.8 meq/L", {"Report has been modified"}, false},
        {"2.1 meq/L",
         {"Report has been modified", told("Critical value: Potassium 2.1 (critical below 2.8)")},
         true},
        {"4.2 meq/L", {"Report has been modified"}, false},
    };
    for (const auto& c : changes) {
        look_up("1");
        form().results[potassium] = c.potassium;
        messages_->clear();
        flow_->modify();
        QCOMPARE(messages_->texts(), c.said);
        const auto call = critical_call(1).value;
        QCOMPARE(call && !call->called(), c.waiting);
    }
    QCOMPARE(int(calls_->asked.size()), asked + 1);
    QVERIFY(!critical_call(1).value);
    QCOMPARE(number_of("select count(*) from change_log where action = 'critical cleared' and row_key = 1"),
             2);
    QCOMPARE(critical_reports_to_verify().value, (QList<qint64>{2}));
}

// Every line of the codes file the laboratory gets fills the box it names on
// its screen, the value in front of the unit the box shows.
void TestResultWorkflow::every_shipped_analyzer_code_fills_its_box() {
    const AnalyzerCodes codes = read_analyzer_codes(QStringLiteral(REPORT_FILES_DIR "/analyzer_codes.tsv"));
    QCOMPARE(code_problems(codes), QStringList());
    QVERIFY(codes.mappings.size() >= 30);
    for (const CodeMapping& m : codes.mappings) {
        const TestDefinition* test = mapped_test(m);
        QVERIFY2(test, qPrintable(m.code));
        const int box = mapped_box(*test, m);
        QStringList shown;
        for (const ResultItem& item : test->items)
            shown << QString::fromUtf8(item.initial_text);
        auto only_unit = [test](const QString& t) {
            for (const char* empty : test->empty_texts)
                if (trim_blanks(t) == QLatin1String(empty)) return true;
            return false;
        };
        const AnalyzerFill fill = analyzer_fill(
            *test, {PendingResult{7, "counter", "", {"5", m.code, "8.4"}}}, codes, shown, only_unit);
        QCOMPARE(fill.boxes.size(), 1);
        QCOMPARE(fill.boxes[0].box, box);
        QVERIFY(!fill.boxes[0].over_typed);
        const QString unit =
            trim_blanks(shown[box]).isEmpty() ? (m.unit.isEmpty() ? "" : " " + m.unit) : shown[box];
        QCOMPARE(fill.boxes[0].text, "8.4" + unit);
    }
    // Lines no screen can take are named.
    QTemporaryDir dir;
    QFile bad(dir.filePath("codes.tsv"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("code\ttest\titem\n# a comment\nK\tBiochemistry report\tSerum Potassium\n"
              "X\tHaematology\tWBC\nonly a code\n");
    bad.close();
    QCOMPARE(code_problems(read_analyzer_codes(bad.fileName())),
             (QStringList{"line 5: a code, a test and an item are needed, separated by tabs",
                          "line 3: K: Biochemistry report has no item \"Serum Potassium\"",
                          "line 4: X: no test is called \"Haematology\""}));
}

void TestResultWorkflow::analyzer_results_are_reviewed_and_taken_with_the_report() {
    QFile::copy(QStringLiteral(REPORT_FILES_DIR "/analyzer_codes.tsv"),
                folder_->path() + "/analyzer_codes.tsv");
    const TestDefinition& biochemistry = definition_of(catalogue::kBiochemistryReport);
    open(biochemistry);
    QCOMPARE(form().analyzer_results, 0);
    const QString lab_id = form().lab_id;
    auto send = [&](const QList<AnalyzerResult>& results) {
        QVERIFY(store_analyzer_message({"chemistry", "hl7", "raw", results, {}}).ok());
    };
    // Glucose twice (the second run counts), potassium, a code the file does
    // not know and a haematology code: two boxes of this screen.
    send({{lab_id, "GLU", "95"}, {lab_id, "K", "4.1"}, {lab_id, "XYZ", "1"}, {lab_id, "HGB", "13"}});
    send({{"000" + lab_id, "glu", "99"}});
    set_journal_user("tamor");
    open(biochemistry);
    QCOMPARE(form().lab_id, lab_id);
    QCOMPARE(form().analyzer_results, 2);
    const int glucose = 2, potassium = 16;
    form().results[potassium] = "4.0 meq/L"; // typed before the results were taken
    messages_->answer(MessageAnswer::No);
    flow_->take_analyzer_results();
    QCOMPARE(messages_->texts(),
             QStringList{"One box already holds a typed result: Serum Potassiun (N : 3.5 - 5.0 "
                         "meq / L).\nReplace it with the analyzer's result?"});
    QCOMPARE(form().results[glucose], QString("99 mg/dl"));
    QCOMPARE(form().results[potassium], QString("4.0 meq/L"));
    QCOMPARE(number_of("select count(*) from pending_results where taken_at <> ''"), 0); // not before Save
    form().name = "Asha";
    flow_->save();
    const QString taken = "select count(*) from pending_results where taken_by = 'tamor' and code = ?";
    QCOMPARE(number_of(taken, {"GLU"}), 2);
    QCOMPARE(number_of("select count(*) from pending_results where taken_at = ''"), 3);
    // Show empties the lab id: no results are offered until one is looked up,
    // not even those of the fresh lab id Clear offers on the way.
    send({{QString::number(lab_id.toLongLong() + 1), "GLU", "70"}});
    flow_->show_mode();
    QCOMPARE(form().analyzer_results, 0);
    // Looked up again, the potassium result still waits; taken over the typed one, Modify takes it.
    look_up(lab_id);
    QCOMPARE(form().analyzer_results, 1);
    messages_->clear();
    messages_->answer(MessageAnswer::Yes);
    flow_->take_analyzer_results();
    QCOMPARE(form().results[potassium], QString("4.1 meq/L"));
    flow_->modify();
    QCOMPARE(number_of(taken, {"K"}), 1);
    QCOMPARE(select_rows(
                 "select result from biochemistry_report where lab_id = ? and item like 'Serum Potassiun%'",
                 {lab_id})
                 .value.value(0)
                 .text(0),
             QString("4.1 meq/L"));
    // What no box of this screen takes stays waiting.
    QCOMPARE(number_of("select count(*) from pending_results where taken_at = '' and code in ('XYZ', 'HGB')"),
             2);
}

void TestResultWorkflow::pending_results_are_listed_ready_first() {
    const AnalyzerCodes codes = read_analyzer_codes(QStringLiteral(REPORT_FILES_DIR "/analyzer_codes.tsv"));
    auto pending = [](qint64 id, const QString& lab, const QString& code) {
        return PendingResult{id, "counter", "", {lab, code, "1"}};
    };
    const QList<PendingResult> all{pending(1, "12", "HGB"), pending(2, "9", "XYZ"),   pending(3, "30", "WBC"),
                                   pending(4, "9", "GLU"),  pending(5, "S-1", "HGB"), pending(6, "100", "K")};
    const QHash<QString, QString> reports{
        {"9", "Biochemistry report"}, {"12", "Routine haemotology"}, {"100", "Routine haemotology"}};
    QStringList listed;
    for (const PendingLine& l : pending_overview(all, codes, reports))
        listed << QStringLiteral("%1 %2 %3 %4")
                      .arg(int(l.kind))
                      .arg(l.pending.result.lab_id, l.pending.result.code, l.item.left(12));
    QCOMPARE(listed, (QStringList{"0 9 GLU Random blood", "0 12 HGB Haemoglobin ", "2 9 XYZ ", "2 100 K ",
                                  "3 30 WBC WBC (N : 400", "3 S-1 HGB Haemoglobin "}));

    // A line may name the whole test id, and ask for a result type: an
    // immunoassay's final result, its interpretation and its raw signal are
    // three results, and only the final one fills the box. Two results for
    // one box say which one it takes.
    QTemporaryFile typed;
    QVERIFY(typed.open());
    typed.write("code\ttest\titem\tunit\ttype\n"
                "^^^1^GLU^UNDILUTED^F\tBiochemistry report\tRandom blood glucose (N:60-140 mg/dl)\n"
                "K\tBiochemistry report\tSerum Potassiun (N : 3.5 - 5.0 meq / L)\t\tF\n");
    typed.close();
    const AnalyzerCodes with_types = read_analyzer_codes(typed.fileName());
    QCOMPARE(with_types.problems, QStringList());
    auto sent = [](qint64 id, const QString& test_id, const QString& status) {
        return PendingResult{
            id, "immuno", "", {"9", test_id.section('^', 4, 4), "1", "", "", test_id, status}};
    };
    const QList<PendingResult> runs{sent(1, "^^^1^GLU^UNDILUTED^F", "F"),
                                    sent(2, "^^^1^GLU^UNDILUTED^I", "F"),
                                    sent(3, "^^^1^GLU^UNDILUTED^P", ""),
                                    sent(4, "^^^2^K", "P"),
                                    sent(5, "^^^2^K", "F"),
                                    sent(6, "^^^2^K^^^F", ""),
                                    sent(7, "^^^2^K", "F")};
    listed.clear();
    for (const PendingLine& l : pending_overview(runs, with_types, reports))
        listed << QStringLiteral("%1 %2").arg(int(l.kind)).arg(l.pending.id);
    // 1: GLU final; 5, 6, 7: K of type F (7 is the latest and fills the box); 2, 3, 4: no box.
    QCOMPARE(listed, (QStringList{"0 1", "0 7", "1 5", "1 6", "2 2", "2 3", "2 4"}));
}

TAVORA_DATA_TEST_MAIN(TestResultWorkflow)
#include "test_result_workflow.moc"

// Role by role on every screen: Save and Modify store only for a role that
// may enter results; anyone else finds the boxes locked, is told why once,
// and Save and Modify refuse with the same words and store nothing.
void TestResultWorkflow::who_may_not_enter_results_is_refused_on_every_screen() {
    const TestDefinition& t = fetched();
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Asha", "", "")).ok());
    app_state().register_on_save = false;
    app_state().mark_temporary = false;
    const struct {
        Actor who;
        bool enters;
    } people[] = {{{"desk", Role::Reception}, false},         {{"tech", Role::Technician}, true},
                  {{"senior", Role::SeniorTechnician}, true}, {{"meera", Role::Pathologist}, true},
                  {{"admin", Role::Administrator}, true},     {{"tamor", std::nullopt}, true}};
    const QString refusal =
        "Your account may register, order, find and print; entering results needs a technician's account.";
    int modified = 500; // below the ids the screens offer (the largest + 1)
    for (const auto& person : people) {
        const QString who = person.who.login;
        messages_->clear();
        flow_ = std::make_unique<ResultWorkflow>(t, std::function<void()>{}, [&] { return person.who; });
        flow_->open();
        QCOMPARE(form().results_locked, !person.enters);
        QCOMPARE(messages_->texts(), person.enters ? QStringList{} : QStringList{refusal});
        const int before = number_of("select count(*) from test_main");
        form().patient_id = "1";
        flow_->patient_lookup();
        fill("Asha");
        messages_->clear();
        flow_->save();
        QCOMPARE(number_of("select count(*) from test_main"), before + (person.enters ? 1 : 0));
        QCOMPARE(messages_->texts().value(0), person.enters ? QString("New report added") : refusal);

        // Modify a report someone else stored: changed only by who may.
        const QString lab = QString::number(--modified);
        const DbError stored = save_report(
            kStaff, {std::nullopt,
                     {lab.toLongLong(), 1, "", "", QString::fromUtf8(t.investigation->test), "", "N"},
                     table(),
                     {{0, QString::fromUtf8(t.items[0].caption), result_value(t)}}});
        QVERIFY2(stored.ok(), qPrintable(stored.description));
        flow_->open();
        look_up(lab);
        form().remarks = "changed by " + who;
        messages_->clear();
        flow_->modify();
        QCOMPARE(messages_->texts().value(0), person.enters ? QString("Report has been modified") : refusal);
        QCOMPARE(find_report(lab.toLongLong()).value->remarks,
                 person.enters ? "changed by " + who : QString());
    }
}
