#include "schema.h"

#include "connection.h"
#include "database.h"
#include "investigations.h"

namespace {

using K = ColumnKind;

QList<TableDef> make_tables() {
    QList<TableDef> t;
    t << TableDef{QStringLiteral("registration"),
                  0,
                  {{"patient_id", K::Key},
                   {"patient_name", K::Words, "''"},
                   {"age", K::Words, "''"},
                   {"sex", K::Words, "''"},
                   {"phone", K::Words, "''"},
                   {"mobile", K::Words, "''"},
                   {"emailid", K::Words, "''"},
                   {"occupation", K::Words, "''"},
                   {"next_of_kin", K::Words, "''"},
                   {"address", K::Words, "''"},
                   {"reg_date", K::Date, "''"},
                   {"brief_history", K::Words, "''"}}};
    t << TableDef{QStringLiteral("test_main"),
                  0,
                  {{"lab_id", K::Number, nullptr, 0, false, true},
                   {"patient_id", K::Number, "0"},
                   {"ref_by", K::Words, "''"},
                   {"t_date", K::Date, "''"},
                   {"test", K::Words, "''"},
                   {"remarks", K::Words, "''"},
                   {"temp_patient", K::Words, "'N'"}}};
    t << TableDef{QStringLiteral("doctors"), 0, {{"name", K::Words, "''"}}};
    // Where a referring doctor's reports may be e-mailed (for those who gave an address).
    t << TableDef{
        QStringLiteral("doctor_emails"), 13, {{"name", K::Words, nullptr, 0, true}, {"email", K::Words}}};
    t << TableDef{QStringLiteral("temp"),
                  0,
                  {{"test_table", K::Words, "''"},
                   {"lab_id", K::Number, "0"},
                   {"item", K::Words, "''"},
                   {"result", K::Words, "''"}}};
    // One table per test: one row per filled result box of a report.
    for (const Investigation* test : catalogue::kAll)
        t << TableDef{QString::fromLatin1(test->table),
                      0,
                      {{"lab_id", K::Number}, {"item", K::Words, "''"}, {"result", K::Words, "''"}}};
    // The before-image of every modified or deleted patient and report: when,
    // where, who, which row, and its old values as JSON. New rows are not
    // journalled. row_hash: SHA-256 over the row and the row_hash of the row
    // before it, so an edited or deleted row breaks the chain from there on.
    t << TableDef{QStringLiteral("change_log"),
                  1,
                  {{"id", K::Id},
                   {"changed_at", K::Text},
                   {"host", K::Words, "''"},
                   {"user_name", K::Words, "''"},
                   {"action", K::Words},
                   {"table_name", K::Words},
                   {"row_key", K::Number},
                   {"old_values", K::Text},
                   {"row_hash", K::Text, "''", 3}}};
    // Every running program, and when it last said it was still there
    // (seconds since 1970): a restore refuses while one is alive, and a
    // program whose row is gone knows its file was replaced under it.
    t << TableDef{QStringLiteral("workstations"),
                  3,
                  {{"id", K::Id},
                   {"host", K::Words, "''"},
                   {"pid", K::Number},
                   {"user_name", K::Words, "''"},
                   {"started_at", K::Text},
                   {"seen_at", K::Number}}};
    // The people who log in: a login name (unique without regard to case),
    // the name and qualification a signed report carries, a role (which
    // decides what they may do) and an Argon2id hash of the password (never
    // the password).
    t << TableDef{
        QStringLiteral("users"),
        4,
        {{"login", K::Words, nullptr, 0, true},
         {"full_name", K::Text, "''"},
         {"qualification", K::Text, "''"},
         {"role", K::Text, nullptr, 0, false, false,
          "role IN ('reception', 'technician', 'senior-technician', 'pathologist', 'administrator')"},
         {"password_hash", K::Text},
         {"legacy_password", K::Number, "0"},
         {"disabled", K::Number, "0"},
         {"must_change", K::Number, "0"},
         {"created_at", K::Text},
         {"last_login_at", K::Text, "''"}}};
    // Who entered each report and when, and who verified (signed off) it and
    // when: empty until a pathologist verifies it; a modification empties it
    // again. Reports saved before the table existed have no row.
    t << TableDef{QStringLiteral("report_signoff"),
                  4,
                  {{"lab_id", K::Key},
                   {"entered_by", K::Words, "''"},
                   {"entered_at", K::Text, "''"},
                   {"verified_by", K::Words, "''"},
                   {"verified_at", K::Text, "''"}}};
    // A report with a critical result and the call that told the referring
    // doctor: the findings as the message named them, who raised it and when
    // (the save), and who informed whom and when; called_at is empty while
    // nobody has been called yet.
    t << TableDef{QStringLiteral("critical_calls"),
                  5,
                  {{"lab_id", K::Key},
                   {"findings", K::Text},
                   {"raised_by", K::Words, "''"},
                   {"raised_at", K::Text},
                   {"informed_by", K::Text, "''"},
                   {"informed_whom", K::Text, "''"},
                   {"called_at", K::Text, "''"},
                   {"recorded_by", K::Words, "''"},
                   // The recipient read the values back (1), as a safe call asks.
                   {"read_back", K::Number, "0", 11}}};
    // What the analyzers sent: every message as it came, with the analyzer's
    // name, its protocol and when it arrived; problem says why a message was
    // refused (empty: its results are in pending_results).
    t << TableDef{QStringLiteral("analyzer_messages"),
                  6,
                  {{"id", K::Id},
                   {"analyzer", K::Words},
                   {"protocol", K::Words},
                   {"received_at", K::Text},
                   {"raw", K::Bytes},
                   {"problem", K::Text, "''"},
                   {"message_key", K::Text, "''", 8}}};
    // One result of an analyzer's message, as sent: the lab id it is for, the
    // analyzer's code, value, units and abnormal flag, its whole test id and
    // its status. The Save or Modify that used it marks it taken (by whom, when).
    t << TableDef{QStringLiteral("pending_results"),
                  6,
                  {{"id", K::Id},
                   {"message_id", K::Number},
                   {"lab_id", K::Words},
                   {"code", K::Words},
                   {"value", K::Text, "''"},
                   {"units", K::Text, "''"},
                   {"flag", K::Text, "''"},
                   {"taken_by", K::Words, "''"},
                   {"taken_at", K::Text, "''"},
                   {"test_id", K::Text, "''", 9},
                   {"status", K::Text, "''", 9}}};
    // A quality-control run's results (control and calibrator samples), kept
    // apart from the patients' and never offered to a report.
    t << TableDef{QStringLiteral("analyzer_qc"),
                  9,
                  {{"id", K::Id},
                   {"message_id", K::Number},
                   {"sample_id", K::Text},
                   {"code", K::Words},
                   {"value", K::Text, "''"},
                   {"units", K::Text, "''"},
                   {"flag", K::Text, "''"},
                   {"test_id", K::Text, "''"},
                   {"status", K::Text, "''"}}};
    // The laboratory's own choices, by name (tavora-lab-admin settings).
    t << TableDef{
        QStringLiteral("settings"), 4, {{"name", K::Words, nullptr, 0, true}, {"value", K::Text, "''"}}};
    // Failed logins in a row, by login name, shared by every workstation:
    // after five the name waits until wait_until (milliseconds since 1970).
    t << TableDef{QStringLiteral("login_failures"),
                  7,
                  {{"login", K::Words, nullptr, 0, true},
                   {"in_a_row", K::Number, "0"},
                   {"wait_until", K::Number, "0"}}};
    // The ids the open screens offer: each reserved for one screen of one
    // workstation until its report is saved, the screen offers another or
    // closes, or the workstation stops counting. No two screens are offered one id.
    t << TableDef{QStringLiteral("id_reservations"),
                  7,
                  {{"kind", K::Words, nullptr, 0, false, false, "kind IN ('lab', 'patient')"},
                   {"id", K::Number},
                   {"workstation", K::Number}},
                  "kind, id"};
    // Tests ordered for a patient, one accession per sample kind: the
    // accession is the number on the sample's label (its own series, never
    // reused), priority 'routine' or 'urgent'.
    t << TableDef{QStringLiteral("orders"),
                  12,
                  {{"accession", K::Key},
                   {"patient_id", K::Number},
                   {"ref_by", K::Words, "''"},
                   {"priority", K::Text, "'routine'", 0, false, false, "priority IN ('routine', 'urgent')"},
                   {"ordered_by", K::Words, "''"},
                   {"ordered_at", K::Text},
                   {"note", K::Words, "''"}}};
    // The accession's sample: its kind, and who collected and received it when.
    t << TableDef{QStringLiteral("order_samples"),
                  12,
                  {{"accession", K::Key},
                   {"sample_kind", K::Text},
                   {"collected_at", K::Text, "''"},
                   {"collected_by", K::Words, "''"},
                   {"received_at", K::Text, "''"},
                   {"received_by", K::Words, "''"}}};
    // The tests of an accession, and the report that resulted each (0: waiting).
    t << TableDef{QStringLiteral("order_tests"),
                  12,
                  {{"accession", K::Number},
                   {"test", K::Words},
                   {"lab_id", K::Number, "0"},
                   // When its report was first printed (or saved as a PDF): the
                   // last step of its turnaround.
                   {"first_printed_at", K::Text, "''", 13}},
                  "accession, test"};
    // An accession sent to an analyzer that takes its orders pushed (HL7
    // OML^O21): when, under which message control id, and when the analyzer
    // acknowledged it ('': not yet, so it is sent again).
    t << TableDef{QStringLiteral("order_pushes"),
                  13,
                  {{"accession", K::Number},
                   {"analyzer", K::Words},
                   {"control_id", K::Text, "''"},
                   {"sent_at", K::Text, "''"},
                   {"acknowledged_at", K::Text, "''"}},
                  "accession, analyzer"};
    return t;
}

QList<IndexDef> make_indexes() {
    QList<IndexDef> i = {
        {"test_main_patient_date", "test_main", "patient_id, t_date"},
        // A list of one test reads in the order stored.
        {"test_main_test", "test_main", "test", 0, nullptr, "test, rowid"},
        {"test_main_temp_patient", "test_main", "temp_patient", 0, nullptr, "temp_patient, lab_id"},
        {"doctors_name", "doctors", "name"},
        {"temp_lab_id", "temp", "lab_id"},
        {"change_log_row", "change_log", "table_name, row_key", 1},
        {"registration_reg_date", "registration", "reg_date", 2},
        {"pending_results_waiting", "pending_results", "lab_id", 6, "taken_at = ''"},
        {"analyzer_messages_key", "analyzer_messages", "message_key", 8, "message_key <> ''"},
        {"orders_patient", "orders", "patient_id", 12},
        {"order_tests_lab_id", "order_tests", "lab_id", 12},
    };
    for (const Investigation* test : catalogue::kAll)
        i << IndexDef{QString::fromLatin1(test->table) + QStringLiteral("_lab_id"), test->table, "lab_id"};
    return i;
}

// The laboratory starts with its four built-in logins, whose passwords are
// compared as the login screen always compared them: trimmed, in any letter
// case (legacy_password); the hashes are of those lower-case passwords.
constexpr char kBuiltInLogins[] =
    "INSERT INTO users (login, role, password_hash, legacy_password, created_at) VALUES "
    "('orbax', 'senior-technician', "
    "'$argon2id$v=19$m=65536,t=2,p=1$0BTeNbR/uQfipB21M00zZw$5riMTF70hOcXHX1RjjzOY7+ZlDYLG/Vp2xj8vN0UCLg', 1, "
    "%now%), "
    "('tamor', 'technician', "
    "'$argon2id$v=19$m=65536,t=2,p=1$9EbuV9eTvJYT12T/1bR+yw$Y5UQ6nNvzqPBDoMtttLFCB+1Ej48W8K211xqrb8gP6s', 1, "
    "%now%), "
    "('quenta', 'technician', "
    "'$argon2id$v=19$m=65536,t=2,p=1$9EbuV9eTvJYT12T/1bR+yw$Y5UQ6nNvzqPBDoMtttLFCB+1Ej48W8K211xqrb8gP6s', 1, "
    "%now%), "
    "('vidrel', 'senior-technician', "
    "'$argon2id$v=19$m=65536,t=2,p=1$0BTeNbR/uQfipB21M00zZw$5riMTF70hOcXHX1RjjzOY7+ZlDYLG/Vp2xj8vN0UCLg', 1, "
    "%now%)";

QString column_sql(const Database& engine, const ColumnDef& c) {
    QString sql = QString::fromLatin1(c.name) + u' ' + engine.column_type(c.kind);
    if (c.primary) sql += QStringLiteral(" PRIMARY KEY");
    if (c.unique) sql += QStringLiteral(" UNIQUE");
    if (c.preset) sql += QStringLiteral(" DEFAULT ") + QLatin1String(c.preset);
    if (c.check) sql += QStringLiteral(" CHECK (%1)").arg(QLatin1String(c.check));
    return sql;
}

// The table as `version` had it.
QString create_table(const Database& engine, const TableDef& t, int version) {
    QStringList columns;
    for (const ColumnDef& c : t.columns)
        if (c.since <= version) columns << column_sql(engine, c);
    if (t.primary_key) columns << QStringLiteral("PRIMARY KEY (%1)").arg(QLatin1String(t.primary_key));
    return engine.create_table(t.name, columns, t.keyed());
}

QString create_index(const Database& engine, const IndexDef& i) {
    return QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3)%4")
        .arg(i.name, QLatin1String(i.table), engine.index_columns(i),
             i.where ? QStringLiteral(" WHERE ") + QLatin1String(i.where) : QString());
}

QStringList seeds(const Database& engine, const SchemaStep& step) {
    if (!step.both) return {};
    QString sql = QString::fromLatin1(step.both);
    sql.replace(QLatin1String("%now%"), engine.now_text());
    return engine.statements(sql);
}

} // namespace

bool TableDef::keyed() const {
    if (primary_key) return true;
    for (const ColumnDef& c : columns)
        if (c.primary || c.kind == ColumnKind::Id || c.kind == ColumnKind::Key) return true;
    return false;
}

const QList<TableDef>& schema_tables() {
    static const QList<TableDef> tables = make_tables();
    return tables;
}

const QList<IndexDef>& schema_indexes() {
    static const QList<IndexDef> indexes = make_indexes();
    return indexes;
}

const TextSearch& schema_search() {
    static const TextSearch search{
        "registration_search",
        "registration",
        "patient_id",
        {QStringLiteral("patient_name"), QStringLiteral("phone"), QStringLiteral("mobile")},
        2};
    return search;
}

const QList<SchemaStep>& schema_steps() {
    static const QList<SchemaStep> steps = {
        {1},
        {2},
        {3},
        {4, kBuiltInLogins},
        {5},
        // A server's dates compare as the plain ISO texts they are (a
        // case-insensitive comparison costs every sort and range of dates for
        // nothing), and its planner samples the searched texts finely.
        {6, nullptr, nullptr,
         "ALTER TABLE registration ALTER COLUMN reg_date TYPE text COLLATE \"C\";\n"
         "ALTER TABLE test_main ALTER COLUMN t_date TYPE text COLLATE \"C\";\n"
         "ALTER INDEX registration_search ALTER COLUMN 1 SET STATISTICS 1000;\n"
         "ALTER INDEX registration_search ALTER COLUMN 2 SET STATISTICS 1000;\n"
         "ALTER INDEX registration_search ALTER COLUMN 3 SET STATISTICS 1000;\n"
         "ANALYZE registration;\n"},
        // The journal is chained from its first row on: a database brought up
        // from an older version names its first chained row (or the next one).
        {7, "INSERT INTO settings (name, value) SELECT 'journal-chain-from', CAST(coalesce("
            "(SELECT min(id) FROM change_log WHERE row_hash <> ''), (SELECT max(id) + 1 FROM change_log), 1) "
            "AS TEXT) WHERE NOT EXISTS (SELECT 1 FROM settings WHERE name = 'journal-chain-from')"},
        {8},
        {9},
        // The file's search index keyed by the patient's number negated
        // (newest first when read forwards), built again.
        {10, nullptr, nullptr, nullptr, true},
        {11},
        // The accessions' own series: the last one given.
        {12, "INSERT INTO settings (name, value) SELECT 'accession-last', '0' "
             "WHERE NOT EXISTS (SELECT 1 FROM settings WHERE name = 'accession-last')"},
        {13},
    };
    return steps;
}

QStringList schema_statements(const Database& engine, int version) {
    QStringList out = engine.prelude();
    for (const TableDef& t : schema_tables())
        if (t.since <= version) out << create_table(engine, t, version);
    for (const IndexDef& i : schema_indexes())
        if (i.since <= version) out << create_index(engine, i);
    if (schema_search().since <= version) out << engine.search_statements(schema_search());
    for (const SchemaStep& step : schema_steps())
        if (step.version <= version) out << seeds(engine, step);
    out << engine.stamp(version, true);
    return out;
}

QStringList schema_statements(const Database& engine) {
    return schema_statements(engine, kSchemaVersion);
}

QStringList upgrade_statements(const Database& engine, int version) {
    QStringList out;
    for (const SchemaStep& step : schema_steps()) {
        if (step.version <= version) continue;
        const int v = step.version;
        for (const TableDef& t : schema_tables()) {
            if (t.since == v) out << create_table(engine, t, v);
            if (t.since >= v) continue;
            for (const ColumnDef& c : t.columns)
                if (c.since == v) out << engine.add_column(t.name, column_sql(engine, c));
        }
        for (const IndexDef& i : schema_indexes())
            if (i.since == v) out << create_index(engine, i);
        if (schema_search().since == v) out << engine.search_statements(schema_search());
        if (step.rebuild_search) out << engine.rebuild_search(schema_search());
        out << engine.statements(engine.own_upgrade(step));
        out << seeds(engine, step);
    }
    out << engine.stamp(kSchemaVersion, false);
    return out;
}
