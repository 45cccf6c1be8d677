#include "core_tables.h"

#include "connection.h"
#include "dates.h"
#include "journal.h"
#include "workstations.h"

#include <QDateTime>

#include <QJsonObject>

namespace {

DbResult<qint64> next_id(const QString& sql) {
    auto last = select_first(sql);
    if (!last.ok()) return {0, last.error};
    if (!last.value) return {1, {}};
    return {last.value->value(0).toLongLong() + 1, {}};
}

Fields patient_fields(const Patient& p) {
    return {
        {QStringLiteral("patient_name"), p.patient_name},
        {QStringLiteral("age"), p.age},
        {QStringLiteral("sex"), p.sex},
        {QStringLiteral("phone"), p.phone},
        {QStringLiteral("mobile"), p.mobile},
        {QStringLiteral("emailid"), p.emailid},
        {QStringLiteral("occupation"), p.occupation},
        {QStringLiteral("next_of_kin"), p.next_of_kin},
        {QStringLiteral("address"), p.address},
        {QStringLiteral("reg_date"), today_iso()},
        {QStringLiteral("brief_history"), p.brief_history},
    };
}

// The largest id stored, or ever journalled (a deleted row's id stays in the
// journal of changes): an id printed on a report once is never offered again.
QString largest_id_ever(const char* table, const char* key) {
    return QStringLiteral(
               "SELECT max(id) FROM (SELECT coalesce((SELECT %2 FROM %1 ORDER BY %2 DESC LIMIT 1), "
               "0) AS id UNION ALL SELECT coalesce((SELECT row_key FROM change_log WHERE table_name = "
               "'%1' ORDER BY row_key DESC LIMIT 1), 0)) AS ids")
        .arg(QLatin1String(table), QLatin1String(key));
}

} // namespace

DbResult<qint64> next_patient_id() {
    return next_id(largest_id_ever("registration", "patient_id"));
}

DbResult<qint64> next_lab_id() {
    return next_id(largest_id_ever("test_main", "lab_id"));
}

namespace {

QString kind_name(IdKind kind) {
    return kind == IdKind::Lab ? QStringLiteral("lab") : QStringLiteral("patient");
}

// Reservations of workstations that stopped counting lapse.
DbError drop_lapsed_reservations() {
    return execute(QStringLiteral("DELETE FROM id_reservations WHERE workstation NOT IN "
                                  "(SELECT id FROM workstations WHERE seen_at >= ?)"),
                   {QDateTime::currentSecsSinceEpoch() - kWorkstationAliveSeconds});
}

// Inside a write transaction: the next id of `kind` larger than every id
// used or reserved, reserved for this workstation; `previous` given back.
DbResult<qint64> reserve_one(IdKind kind, qint64 previous) {
    const QString name = kind_name(kind);
    if (previous > 0)
        if (DbError e = end_reservation(kind, previous); !e.ok()) return {0, e};
    auto used = kind == IdKind::Lab ? next_lab_id() : next_patient_id();
    if (!used.ok()) return {0, used.error};
    auto reserved = select_first(
        QStringLiteral("SELECT coalesce(max(id), 0) + 1 FROM id_reservations WHERE kind = ?"), {name});
    if (!reserved.ok()) return {0, reserved.error};
    const qint64 id = std::max(used.value, reserved.value ? reserved.value->value(0).toLongLong() : 1);
    if (DbError e =
            execute(QStringLiteral("INSERT INTO id_reservations (kind, id, workstation) VALUES (?, ?, ?)"),
                    {name, id, registered_workstation()});
        !e.ok())
        return {0, e};
    return {id, {}};
}

} // namespace

DbResult<qint64> reserve_next_id(IdKind kind, qint64 previous) {
    DbResult<qint64> out;
    out.error = in_transaction([&]() -> DbError {
        if (DbError e = drop_lapsed_reservations(); !e.ok()) return e;
        out = reserve_one(kind, previous);
        return out.error;
    });
    if (!out.error.ok()) out.value = 0;
    return out;
}

DbResult<OfferedIds> reserve_next_ids(bool patient, const OfferedIds& previous) {
    DbResult<OfferedIds> out;
    out.error = in_transaction([&]() -> DbError {
        if (DbError e = drop_lapsed_reservations(); !e.ok()) return e;
        if (patient) {
            auto p = reserve_one(IdKind::Patient, previous.patient);
            if (!p.ok()) return p.error;
            out.value.patient = p.value;
        } else if (previous.patient > 0) {
            if (DbError e = end_reservation(IdKind::Patient, previous.patient); !e.ok()) return e;
        }
        auto lab = reserve_one(IdKind::Lab, previous.lab);
        if (!lab.ok()) return lab.error;
        out.value.lab = lab.value;
        return {};
    });
    if (!out.error.ok()) out.value = {};
    return out;
}

DbError end_reservation(IdKind kind, const QVariant& id) {
    return execute(QStringLiteral("DELETE FROM id_reservations WHERE kind = ? AND id = ?"),
                   {kind_name(kind), id});
}

void release_reserved_id(IdKind kind, qint64 id) {
    if (id <= 0 || !connection_is_open()) return;
    // A busy file keeps the reservation until the workstation ends; nothing is lost by that.
    end_reservation(kind, id);
}

DbError refuse_reused_id(const char* table, const QVariant& id) {
    auto used = select_first(QStringLiteral("SELECT 1 FROM change_log WHERE table_name = ? AND row_key = ? "
                                            "AND action = 'delete' LIMIT 1"),
                             {QLatin1String(table), id});
    if (!used.ok()) return used.error;
    if (used.value)
        return {DbError::Kind::Duplicate, 0,
                QStringLiteral("%1 %2 was used before and is kept in the journal of changes")
                    .arg(QLatin1String(table), value_text(id))};
    return {};
}

DbError patient_on_record(const QVariant& patient_id, const std::optional<QString>& shown_name) {
    auto stored = find_patient(patient_id);
    if (!stored.ok()) return stored.error;
    if (!stored.value || (shown_name && stored.value->patient_name != *shown_name))
        return {DbError::Kind::NotFound, 0,
                QStringLiteral("no patient %1%2")
                    .arg(value_text(patient_id),
                         shown_name ? QStringLiteral(" named \"%1\"").arg(*shown_name) : QString())};
    return {};
}

Patient minimal_patient(const QVariant& patient_id, const QString& name, const QString& age,
                        const QString& sex) {
    const QString dash = QStringLiteral("-");
    return {patient_id, name, age, sex, dash, dash, QStringLiteral("_"), dash, dash, dash, today_iso(), dash};
}

DbResult<std::optional<Patient>> find_patient(const QVariant& patient_id) {
    auto row = select_first(QStringLiteral("SELECT * FROM registration WHERE patient_id = ?"), {patient_id});
    if (!row.ok() || !row.value) return {std::nullopt, row.error};
    const Row& r = *row.value;
    Patient p;
    p.patient_id = r.value(0);
    p.patient_name = r.text(1);
    p.age = r.text(QStringLiteral("age"));
    p.sex = r.text(QStringLiteral("sex"));
    p.phone = r.text(QStringLiteral("phone"));
    p.mobile = r.text(QStringLiteral("mobile"));
    p.emailid = r.text(QStringLiteral("emailid"));
    p.occupation = r.text(QStringLiteral("occupation"));
    p.next_of_kin = r.text(QStringLiteral("next_of_kin"));
    p.address = r.text(QStringLiteral("address"));
    p.reg_date = r.text(QStringLiteral("reg_date"));
    p.brief_history = r.text(QStringLiteral("brief_history"));
    return {p, {}};
}

namespace {

constexpr QString Patient::*kPatientText[] = {
    &Patient::patient_name, &Patient::age,      &Patient::sex,           &Patient::phone,
    &Patient::mobile,       &Patient::emailid,  &Patient::occupation,    &Patient::next_of_kin,
    &Patient::address,      &Patient::reg_date, &Patient::brief_history,
};
constexpr const char* kPatientColumns[] = {"patient_name", "age",      "sex",          "phone",
                                           "mobile",       "emailid",  "occupation",   "next_of_kin",
                                           "address",      "reg_date", "brief_history"};

QJsonObject patient_json(const Patient& p) {
    QJsonObject o{{QStringLiteral("patient_id"), p.patient_id.toLongLong()}};
    for (std::size_t i = 0; i < std::size(kPatientText); ++i)
        o.insert(QLatin1String(kPatientColumns[i]), p.*kPatientText[i]);
    return o;
}

} // namespace

DbError add_patient(const Actor& who, const Patient& patient) {
    if (DbError e = require(who, Right::Register); !e.ok()) return e;
    Fields fields = patient_fields(patient);
    fields.prepend({QStringLiteral("patient_id"), patient.patient_id});
    if (DbError e = add_row(QStringLiteral("registration"), fields); !e.ok()) return e;
    if (DbError e = refuse_reused_id("registration", patient.patient_id); !e.ok()) return e;
    if (DbError e = end_reservation(IdKind::Patient, patient.patient_id); !e.ok()) return e;
    Patient stored = patient;
    stored.reg_date = today_iso(); // as patient_fields wrote it
    return journal_change(QStringLiteral("create"), QStringLiteral("registration"),
                          patient.patient_id.toLongLong(), patient_json(stored));
}

bool same_key(const QVariant& a, const QVariant& b) {
    const bool whole_a = a.typeId() == QMetaType::LongLong || a.typeId() == QMetaType::Int;
    const bool whole_b = b.typeId() == QMetaType::LongLong || b.typeId() == QMetaType::Int;
    if (whole_a && whole_b) return a.toLongLong() == b.toLongLong();
    return a.toDouble() == b.toDouble();
}

bool same_patient(const Patient& a, const Patient& b) {
    for (QString Patient::*field : kPatientText)
        if (a.*field != b.*field) return false;
    return same_key(a.patient_id, b.patient_id);
}

DbError modify_patient(const Actor& who, const Patient& patient, const Patient& looked_up) {
    if (DbError e = require(who, Right::Register); !e.ok()) return e;
    return in_transaction([&]() -> DbError {
        auto stored = find_patient(patient.patient_id);
        if (!stored.ok()) return stored.error;
        if (!stored.value) return {DbError::Kind::NotFound, 0, QStringLiteral("no patient has that number")};
        if (!same_patient(*stored.value, looked_up))
            return {DbError::Kind::Changed, 0,
                    QStringLiteral("the patient was changed since it was looked up")};
        if (DbError e = journal_change(QStringLiteral("modify"), QStringLiteral("registration"),
                                       patient.patient_id.toLongLong(), patient_json(*stored.value));
            !e.ok())
            return e;
        return change_rows(QStringLiteral("registration"), patient_fields(patient),
                           QStringLiteral("patient_id"), patient.patient_id);
    });
}

ListQuery patient_list() {
    ListQuery q;
    q.table = QStringLiteral("registration");
    q.key = QStringLiteral("patient_id");
    return q;
}
