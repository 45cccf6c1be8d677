// What the records promise below the screens: each operation checks the
// right of whoever does it, and the journal of changes shows any rewriting.
#include "data_support.h"

#include "accounts.h"
#include "connection.h"
#include "core_tables.h"
#include "critical_calls.h"
#include "journal.h"
#include "lab_reports.h"
#include "records.h"

#include <QSqlError>
#include <QSqlQuery>

class TestTrust : public QObject {
    Q_OBJECT

private slots:
    void every_operation_checks_the_right_of_whoever_does_it();
    void a_rewritten_journal_is_found_data();
    void a_rewritten_journal_is_found();
};

// Role by action, on the record operations themselves (whatever a screen
// shows): 1 stores, 0 is refused as Forbidden with nothing written.
void TestTrust::every_operation_checks_the_right_of_whoever_does_it() {
    ProgramFolder folder;
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Asha", "", "")).ok());
    const QString findings = "Potassium 6.8 (critical above 6.2)";
    const struct {
        Actor who;
        const char*
            may; // register, save, take analyzer results, record a call, verify, modify, delete, users
    } table[] = {
        {{"desk", Role::Reception}, "10000000"},
        {{"tech", Role::Technician}, "11110100"},
        {{"senior", Role::SeniorTechnician}, "11110110"},
        {{"meera", Role::Pathologist}, "11111100"},
        {{"admin", Role::Administrator}, "11111111"},
        // A built-in pair let in while the database could not be opened.
        {{"tamor", std::nullopt}, "11110100"},
        {{"orbax", std::nullopt, true}, "11110110"},
        // A session that was ended.
        {{}, "00000000"},
    };
    qint64 id = 100;
    for (const auto& row : table) {
        const Actor& who = row.who;
        const qint64 lab = ++id, spare = ++id, patient = ++id;
        // Reports someone else stored, to modify, verify, call about and delete.
        for (qint64 l : {lab, spare})
            QVERIFY(save_report(
                        kStaff,
                        {std::nullopt, {l, 1, "", "", "Serology", "", "Y"}, "Serology", {{0, "ASLO", "100"}}})
                        .ok());
        QVERIFY(in_transaction([&] { return note_critical_findings(lab, {findings}); }).ok());
        const ReportSnapshot snapshot = *report_snapshot("Serology", lab).value;
        ReportChange change{snapshot.header, "Serology", {{0, "ASLO", "999"}}, {}, snapshot};
        Account account;
        account.login = QString("user%1").arg(id);
        const DbError outcomes[] = {
            add_patient(who, minimal_patient(patient, "New", "", "")),
            save_report(
                who, {std::nullopt, {++id, 1, "", "", "Serology", "", "N"}, "Serology", {{0, "ASLO", "5"}}}),
            save_report(who, {std::nullopt,
                              {++id, 1, "", "", "Serology", "", "N"},
                              "Serology",
                              {{0, "ASLO", "5"}},
                              std::nullopt,
                              {424242}}),
            record_critical_call(who, lab, findings, {"Asha", "Dr. Rao", "2026-12-10T10:00:00"}),
            verify_report(who, *report_snapshot("Serology", lab).value),
            modify_report(who, change),
            delete_report(who, spare),
            add_user(database().value, who, account, "long enough"),
        };
        for (int action = 0; action < 8; ++action) {
            const bool allowed = row.may[action] == '1';
            const QString where =
                QString("%1, action %2: %3").arg(who.login).arg(action).arg(outcomes[action].description);
            QVERIFY2(outcomes[action].ok() == allowed, qPrintable(where));
            if (!allowed) QVERIFY2(outcomes[action].forbidden(), qPrintable(where));
        }
        // A refused modification left the stored result as it was.
        QCOMPARE(report_results("Serology", lab).value.value(0).result,
                 QString(row.may[5] == '1' ? "999" : "100"));
    }
    // What a refusal says: what the account may do, and whose account the action needs.
    QCOMPARE(
        require({"desk", Role::Reception}, Right::EnterResults).description,
        QString("Your account may register, order, find and print; entering results needs a technician's account."));
    QCOMPARE(require({"tech", Role::Technician}, Right::Verify).description,
             QString("Your account may register, find, print and enter results; verifying a report needs a "
                     "pathologist's account."));
}

void TestTrust::a_rewritten_journal_is_found_data() {
    QTest::addColumn<QStringList>(
        "tampering");                   // SQL run by someone with the file; "rechain" recomputes every hash
    QTest::addColumn<QString>("chain"); // what the chain alone says ("" intact), a part of it
    QTest::addColumn<QString>("anchored"); // what the chain with the anchor says
    QTest::newRow("nothing") << QStringList{} << ""
                             << "";
    QTest::newRow("every hash blanked")
        << QStringList{"UPDATE change_log SET row_hash = ''"} << "row 1 has no hash"
        << "row 1 has no hash";
    QTest::newRow("hashes blanked, rows edited")
        << QStringList{"UPDATE change_log SET row_hash = '', old_values = '{}'"} << "row 1 has no hash"
        << "row 1 has no hash";
    QTest::newRow("a row edited") << QStringList{"UPDATE change_log SET user_name = 'nobody' WHERE id = 3"}
                                  << "row 3 does not match"
                                  << "row 3 does not match";
    QTest::newRow("a middle row deleted")
        << QStringList{"DELETE FROM change_log WHERE id = 3"} << "row 4 does not match"
        << "row 4 does not match";
    QTest::newRow("the tail cut off") << QStringList{"DELETE FROM change_log WHERE id > 4"} << ""
                                      << "rows after the anchor's last were removed";
    QTest::newRow("a forged row appended") // after the anchor: the chain finds it
        << QStringList{"INSERT INTO change_log (changed_at, host, user_name, action, table_name, row_key, "
                       "old_values, row_hash) VALUES ('2026-12-10T10:00:00', 'h', 'x', 'delete', "
                       "'test_main', 1, "
                       "'{}', 'feed')"}
        << "row 7 does not match"
        << "row 7 does not match";
    QTest::newRow("the chain start moved") << QStringList{"UPDATE settings SET value = '99' WHERE name = "
                                                          "'journal-chain-from'",
                                                          "UPDATE change_log SET row_hash = '' WHERE id = 1"}
                                           << "row 2 does not match"
                                           << "row 2 does not match";
    QTest::newRow("every hash blanked, the chain start moved past them")
        << QStringList{"UPDATE settings SET value = '99' WHERE name = 'journal-chain-from'",
                       "UPDATE change_log SET row_hash = ''"}
        << ""
        << "the journal up to the anchor was rewritten";
    QTest::newRow("a row edited, the whole chain recomputed")
        << QStringList{"UPDATE change_log SET old_values = '{}' WHERE id = 2", "rechain"} << ""
        << "the journal up to the anchor was rewritten";
}

// The journal's chain finds a row edited, deleted or stripped of its hash;
// what a chain alone cannot see (rows cut off its end, every hash
// recomputed) the anchor kept away from the database finds.
void TestTrust::a_rewritten_journal_is_found() {
    QFETCH(QStringList, tampering);
    QFETCH(QString, chain);
    QFETCH(QString, anchored);
    ProgramFolder folder;
    for (int i = 1; i <= 3; ++i)
        QVERIFY(add_patient(kStaff, minimal_patient(i, QString("Patient %1").arg(i), "", "")).ok());
    QVERIFY(save_report(kStaff,
                        {std::nullopt, {1, 1, "", "", "Serology", "", "Y"}, "Serology", {{0, "ASLO", "1"}}})
                .ok());
    QVERIFY(delete_report(kStaff, 1).ok());
    QVERIFY(add_patient(kStaff, minimal_patient(4, "Patient 4", "", "")).ok());
    QSqlDatabase db = database().value;
    QCOMPARE(number_of("SELECT count(*) FROM change_log"), 6);
    QSqlQuery q(folder.other_workstation());
    const JournalAnchor anchor = journal_anchor(db).value;
    QCOMPARE(anchor.rows, 6);
    QCOMPARE(JournalAnchor::parse(anchor.text())->hash, anchor.hash);

    for (const QString& sql : tampering) {
        if (sql != "rechain") {
            QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
            continue;
        }
        QVERIFY(q.exec("SELECT id, changed_at, host, user_name, action, table_name, row_key, old_values FROM "
                       "change_log ORDER BY id"));
        QList<std::pair<qint64, QStringList>> rows;
        while (q.next()) {
            QStringList fields;
            for (int i = 1; i <= 7; ++i)
                fields << q.value(i).toString();
            rows << std::pair{q.value(0).toLongLong(), fields};
        }
        QString previous;
        for (const auto& [id, fields] : rows) {
            previous = journal_row_hash(previous, fields);
            QVERIFY(
                q.exec(QString("UPDATE change_log SET row_hash = '%1' WHERE id = %2").arg(previous).arg(id)));
        }
    }
    const QString alone = verify_journal(db), with_anchor = verify_journal(db, nullptr, anchor);
    QVERIFY2(chain.isEmpty() ? alone.isEmpty() : alone.contains(chain), qPrintable(alone));
    QVERIFY2(anchored.isEmpty() ? with_anchor.isEmpty() : with_anchor.contains(anchored),
             qPrintable(with_anchor));
}

TAVORA_DATA_TEST_MAIN(TestTrust)
#include "test_trust.moc"
