#pragma once

#include "accounts.h"
#include "db_error.h"
#include "records.h"

#include <QString>

#include <optional>

// The patients (the registration table) and the ids every screen offers; the
// reports themselves are in lab_reports.h.

// The largest id ever used plus 1 (deleted rows' ids included: the journal of
// changes remembers them), or 1 for an empty table. Nothing is reserved.
DbResult<qint64> next_patient_id();
DbResult<qint64> next_lab_id();

// The ids a screen offers are reserved for it (id_reservations), under the
// database's write lock: the next id is larger than every id used (as above)
// and every id reserved by a screen of a live workstation, so two screens are
// never offered one id. Reserving releases the screen's `previous` id of that
// kind (0: none); a reservation also ends when its report or patient is
// saved, and lapses with its workstation (kWorkstationAliveSeconds without a
// heartbeat). A laboratory working one screen at a time sees largest + 1.
enum class IdKind { Lab, Patient };
DbResult<qint64> reserve_next_id(IdKind kind, qint64 previous);
// The ids a screen offers: a lab id, and a patient id where it offers one (0: none).
struct OfferedIds {
    qint64 lab = 0;
    qint64 patient = 0;
};
// Reserves a fresh lab id, and a patient id when `patient`, in one
// transaction (joining the caller's: a save reserves the ids its screen
// offers next without a write of their own), giving `previous` back.
DbResult<OfferedIds> reserve_next_ids(bool patient, const OfferedIds& previous);
// Gives a screen's reserved id back (the screen closed or takes typed ids).
void release_reserved_id(IdKind kind, qint64 id);
// Inside a save's transaction: the reservation of a stored id ends.
DbError end_reservation(IdKind kind, const QVariant& id);

// One registration row, every column as the screens show it.
struct Patient {
    QVariant patient_id;
    QString patient_name, age, sex, phone, mobile, emailid, occupation, next_of_kin, address, reg_date,
        brief_history;
};

// The row a test screen registers for a new or walk-in patient: the typed
// name, age and sex, placeholders elsewhere ("_" for the e-mail), today's date.
Patient minimal_patient(const QVariant& patient_id, const QString& name, const QString& age,
                        const QString& sex);

DbResult<std::optional<Patient>> find_patient(const QVariant& patient_id);
// Nothing when a patient is stored under that number (with exactly the name a
// screen showed for it, when one is given); otherwise a NotFound error. Call
// it inside the write transaction that stores something for the patient.
DbError patient_on_record(const QVariant& patient_id, const std::optional<QString>& shown_name);
// A Duplicate error when the journal of changes holds the deletion of a row
// of `table` with this id (a deleted report's lab id, say): such an id is
// never stored again.
DbError refuse_reused_id(const char* table, const QVariant& id);
// Adds the patient with today's date as reg_date, and journals its creation;
// call it inside a transaction. A taken number, or the number of a deleted
// patient, is a duplicate-key error.
// Registering and correcting a patient need the Register right of `who`.
DbError add_patient(const Actor& who, const Patient& patient);
// Rewrites every column but the number, with today's date as reg_date, only
// when the stored row is still `looked_up` (compared inside the write
// transaction): otherwise a Changed error and nothing is stored. The old row
// goes into the journal of changes.
DbError modify_patient(const Actor& who, const Patient& patient, const Patient& looked_up);

bool same_patient(const Patient& a, const Patient& b);
// Whether two bound ids name the same row.
bool same_key(const QVariant& a, const QVariant& b);
// Every patient in registration-number order, for the list panel.
ListQuery patient_list();
