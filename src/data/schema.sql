-- The laboratory's database. Created by `tavora-lab-admin init` and by the test
-- fixtures; the program itself never creates tables.
--
-- Every text column compares without regard to case, as the laboratory's
-- queries always have. Dates are ISO YYYY-MM-DD text. No column holds a null.

CREATE TABLE registration (
    patient_id    INTEGER PRIMARY KEY,
    patient_name  TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    age           TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    sex           TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    phone         TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    mobile        TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    emailid       TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    occupation    TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    next_of_kin   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    address       TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    reg_date      TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    brief_history TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;

CREATE TABLE test_main (
    lab_id       INTEGER NOT NULL UNIQUE,
    patient_id   INTEGER NOT NULL DEFAULT 0,
    ref_by       TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    t_date       TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    test         TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    remarks      TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    temp_patient TEXT COLLATE NOCASE NOT NULL DEFAULT 'N'
) STRICT;
CREATE INDEX test_main_patient_date ON test_main (patient_id, t_date);
CREATE INDEX test_main_test ON test_main (test);
CREATE INDEX test_main_temp_patient ON test_main (temp_patient);

CREATE TABLE doctors (
    name TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX doctors_name ON doctors (name);

CREATE TABLE temp (
    test_table TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    lab_id     INTEGER NOT NULL DEFAULT 0,
    item       TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result     TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX temp_lab_id ON temp (lab_id);

-- One table per test: one row per filled result box of a report.
CREATE TABLE blood_sugar_report (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX blood_sugar_report_lab_id ON blood_sugar_report (lab_id);

CREATE TABLE biochemistry_report (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX biochemistry_report_lab_id ON biochemistry_report (lab_id);

CREATE TABLE Thyroid_hormone_profile (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX Thyroid_hormone_profile_lab_id ON Thyroid_hormone_profile (lab_id);

CREATE TABLE Routine_haemotology (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX Routine_haemotology_lab_id ON Routine_haemotology (lab_id);

CREATE TABLE RBC_indices (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX RBC_indices_lab_id ON RBC_indices (lab_id);

CREATE TABLE prothrombin_time (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX prothrombin_time_lab_id ON prothrombin_time (lab_id);

CREATE TABLE peripheral_blood_smear (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX peripheral_blood_smear_lab_id ON peripheral_blood_smear (lab_id);

CREATE TABLE Serology (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX Serology_lab_id ON Serology (lab_id);

CREATE TABLE widal_test (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX widal_test_lab_id ON widal_test (lab_id);

CREATE TABLE urinalysis (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX urinalysis_lab_id ON urinalysis (lab_id);

CREATE TABLE stool_routine (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX stool_routine_lab_id ON stool_routine (lab_id);

CREATE TABLE culture_and_antibiotic_sensitivity_pattern (
    lab_id INTEGER NOT NULL,
    item   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    result TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX culture_and_antibiotic_sensitivity_pattern_lab_id
    ON culture_and_antibiotic_sensitivity_pattern (lab_id);

-- The before-image of every modified or deleted patient and report: when,
-- where, who, which row, and its old values as JSON. New rows are not journalled.
CREATE TABLE change_log (
    id         INTEGER PRIMARY KEY,
    changed_at TEXT NOT NULL,
    host       TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    user_name  TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    action     TEXT COLLATE NOCASE NOT NULL,
    table_name TEXT COLLATE NOCASE NOT NULL,
    row_key    INTEGER NOT NULL,
    old_values TEXT NOT NULL,
    -- SHA-256 over the row and the row_hash of the row before it: an edited
    -- or deleted row breaks the chain from there on.
    row_hash   TEXT NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX change_log_row ON change_log (table_name, row_key);

-- Finding a patient by any part of the name, the phone or the mobile number
-- as the front desk types: a trigram index kept in step with registration.
-- Its rowid is the patient's number negated, so that reading it forwards
-- gives the newest patients first: FTS5 reads an index backwards by loading
-- each term's whole list, twice as slow at a million patients.
CREATE INDEX registration_reg_date ON registration (reg_date);
CREATE VIRTUAL TABLE registration_search USING fts5(
    patient_name, phone, mobile, content = '', tokenize = 'trigram');
CREATE TRIGGER registration_search_insert AFTER INSERT ON registration BEGIN
    INSERT INTO registration_search (rowid, patient_name, phone, mobile)
        VALUES (-new.patient_id, new.patient_name, new.phone, new.mobile);
END;
CREATE TRIGGER registration_search_delete AFTER DELETE ON registration BEGIN
    INSERT INTO registration_search (registration_search, rowid, patient_name, phone, mobile)
        VALUES ('delete', -old.patient_id, old.patient_name, old.phone, old.mobile);
END;
CREATE TRIGGER registration_search_update AFTER UPDATE ON registration BEGIN
    INSERT INTO registration_search (registration_search, rowid, patient_name, phone, mobile)
        VALUES ('delete', -old.patient_id, old.patient_name, old.phone, old.mobile);
    INSERT INTO registration_search (rowid, patient_name, phone, mobile)
        VALUES (-new.patient_id, new.patient_name, new.phone, new.mobile);
END;

-- Every running program, and when it last said it was still there (seconds
-- since 1970): a restore refuses while one is alive, and a program whose row
-- is gone knows its file was replaced under it.
CREATE TABLE workstations (
    id         INTEGER PRIMARY KEY,
    host       TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    pid        INTEGER NOT NULL,
    user_name  TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    started_at TEXT NOT NULL,
    seen_at    INTEGER NOT NULL
) STRICT;

-- The people who log in: a login name (unique without regard to case), the
-- name and qualification a signed report carries, a role (which decides what
-- they may do) and an Argon2id hash of the password (never the password).
-- The laboratory starts with its four built-in logins, whose passwords are
-- compared as the login screen always compared them: trimmed, in any letter
-- case (legacy_password); the hashes below are of those lower-case passwords.
CREATE TABLE users (
    login           TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    full_name       TEXT NOT NULL DEFAULT '',
    qualification   TEXT NOT NULL DEFAULT '',
    role            TEXT NOT NULL CHECK (role IN ('reception', 'technician', 'senior-technician', 'pathologist', 'administrator')),
    password_hash   TEXT NOT NULL,
    legacy_password INTEGER NOT NULL DEFAULT 0,
    disabled        INTEGER NOT NULL DEFAULT 0,
    must_change     INTEGER NOT NULL DEFAULT 0,
    created_at      TEXT NOT NULL,
    last_login_at   TEXT NOT NULL DEFAULT ''
) STRICT;

INSERT INTO users (login, role, password_hash, legacy_password, created_at) VALUES
    ('orbax', 'senior-technician', '$argon2id$v=19$m=65536,t=2,p=1$0BTeNbR/uQfipB21M00zZw$5riMTF70hOcXHX1RjjzOY7+ZlDYLG/Vp2xj8vN0UCLg', 1, datetime('now')),
    ('tamor', 'technician', '$argon2id$v=19$m=65536,t=2,p=1$9EbuV9eTvJYT12T/1bR+yw$Y5UQ6nNvzqPBDoMtttLFCB+1Ej48W8K211xqrb8gP6s', 1, datetime('now')),
    ('quenta', 'technician', '$argon2id$v=19$m=65536,t=2,p=1$9EbuV9eTvJYT12T/1bR+yw$Y5UQ6nNvzqPBDoMtttLFCB+1Ej48W8K211xqrb8gP6s', 1, datetime('now')),
    ('vidrel', 'senior-technician', '$argon2id$v=19$m=65536,t=2,p=1$0BTeNbR/uQfipB21M00zZw$5riMTF70hOcXHX1RjjzOY7+ZlDYLG/Vp2xj8vN0UCLg', 1, datetime('now'));

-- Who entered each report and when, and who verified (signed off) it and
-- when: empty until a pathologist verifies it; a modification empties it
-- again. Reports saved before the table existed have no row.
CREATE TABLE report_signoff (
    lab_id      INTEGER PRIMARY KEY,
    entered_by  TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    entered_at  TEXT NOT NULL DEFAULT '',
    verified_by TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    verified_at TEXT NOT NULL DEFAULT ''
) STRICT;

-- A report with a critical result (beyond a critical limit) and the call that
-- told the referring doctor: the findings as the message named them, who
-- raised it and when (the save), and who informed whom and when; called_at is
-- empty while nobody has been called yet. A modification with other findings
-- raises it again; one without any removes it.
CREATE TABLE critical_calls (
    lab_id        INTEGER PRIMARY KEY,
    findings      TEXT NOT NULL,
    raised_by     TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    raised_at     TEXT NOT NULL,
    informed_by   TEXT NOT NULL DEFAULT '',
    informed_whom TEXT NOT NULL DEFAULT '',
    called_at     TEXT NOT NULL DEFAULT '',
    recorded_by   TEXT COLLATE NOCASE NOT NULL DEFAULT ''
) STRICT;

-- What the analyzers sent (tavora-lab-analyzer): every message as it came,
-- with the analyzer's name, its protocol and when it arrived; problem says why
-- a message was refused (empty: its results are in pending_results).
CREATE TABLE analyzer_messages (
    id          INTEGER PRIMARY KEY,
    analyzer    TEXT COLLATE NOCASE NOT NULL,
    protocol    TEXT COLLATE NOCASE NOT NULL,
    received_at TEXT NOT NULL,
    raw         BLOB NOT NULL,
    problem     TEXT NOT NULL DEFAULT '',
    message_key TEXT NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX analyzer_messages_key ON analyzer_messages (message_key) WHERE message_key <> '';

-- One result of an analyzer's message, as sent: the lab id it is for, the
-- analyzer's code, value, units and abnormal flag, its whole test id and its
-- status. The Save or Modify of the
-- test screen that used it marks it taken (by whom, when).
CREATE TABLE pending_results (
    id         INTEGER PRIMARY KEY,
    message_id INTEGER NOT NULL,
    lab_id     TEXT COLLATE NOCASE NOT NULL,
    code       TEXT COLLATE NOCASE NOT NULL,
    value      TEXT NOT NULL DEFAULT '',
    units      TEXT NOT NULL DEFAULT '',
    flag       TEXT NOT NULL DEFAULT '',
    taken_by   TEXT COLLATE NOCASE NOT NULL DEFAULT '',
    taken_at   TEXT NOT NULL DEFAULT '',
    test_id    TEXT NOT NULL DEFAULT '',
    status     TEXT NOT NULL DEFAULT ''
) STRICT;
CREATE INDEX pending_results_waiting ON pending_results (lab_id) WHERE taken_at = '';

-- A quality-control run's results (control and calibrator samples), kept
-- apart from the patients' and never offered to a report.
CREATE TABLE analyzer_qc (
    id         INTEGER PRIMARY KEY,
    message_id INTEGER NOT NULL,
    sample_id  TEXT NOT NULL,
    code       TEXT COLLATE NOCASE NOT NULL,
    value      TEXT NOT NULL DEFAULT '',
    units      TEXT NOT NULL DEFAULT '',
    flag       TEXT NOT NULL DEFAULT '',
    test_id    TEXT NOT NULL DEFAULT '',
    status     TEXT NOT NULL DEFAULT ''
) STRICT;

-- The laboratory's own choices, by name (tavora-lab-admin settings):
-- require-verification (on: an unverified report prints as provisional).
CREATE TABLE settings (
    name  TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    value TEXT NOT NULL DEFAULT ''
) STRICT;

-- Failed logins in a row, by login name, shared by every workstation: after
-- five the name waits until wait_until (milliseconds since 1970), whichever
-- workstation or program it is typed at next.
CREATE TABLE login_failures (
    login      TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    in_a_row   INTEGER NOT NULL DEFAULT 0,
    wait_until INTEGER NOT NULL DEFAULT 0
) STRICT;

-- The ids the open screens offer: each reserved for one screen of one
-- workstation (workstations.id) until its report is saved, the screen offers
-- another or closes, or the workstation stops counting. No two screens are
-- offered one id.
CREATE TABLE id_reservations (
    kind        TEXT COLLATE NOCASE NOT NULL CHECK (kind IN ('lab', 'patient')),
    id          INTEGER NOT NULL,
    workstation INTEGER NOT NULL,
    PRIMARY KEY (kind, id)
) STRICT;

-- The journal is chained from its first row on (journal-chain-from: a file
-- brought up from an older version names its first chained row).
INSERT INTO settings (name, value) VALUES ('journal-chain-from', '1');

-- The file says whose it is and which version of the schema it holds; the
-- program opens nothing else.
PRAGMA application_id = 1414941762;
PRAGMA user_version = 10;
