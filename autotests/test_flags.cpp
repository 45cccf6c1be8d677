// High and low flags: the ranges as written, reading a result, the flag beside
// a box while typing, and the flag column of printed reports.
#include "test_support.h"

#include "app_state.h"
#include "boxes.h"
#include "core_tables.h"
#include "lab_reports.h"
#include "normal_ranges.h"
#include "prepared_report.h"
#include "report_layout.h"
#include "result_screen.h"
#include "screen_registry.h"
#include "start.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>

Q_DECLARE_METATYPE(const ItemRange*)
Q_DECLARE_METATYPE(const CriticalLimit*)

namespace {

// Every number a caption writes, digit-group commas removed.
QList<double> caption_numbers(const QString& caption) {
    QList<double> out;
    static const QRegularExpression number(QStringLiteral(R"(\d[\d,]*(?:\.\d+)?)"));
    for (auto it = number.globalMatch(caption); it.hasNext();)
        out << it.next().captured(0).remove(u',').toDouble();
    return out;
}

// A result text for a value, written as the laboratory writes it.
QString written(double value) {
    if (value >= 1000 && value == std::floor(value)) return QLocale(QLocale::English).toString(qint64(value));
    return QString::number(value, 'g', 10);
}

} // namespace

class TestFlags : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { install_screens(); }

    void every_bound_is_written_in_its_caption();
    void flags_at_the_bounds_data();
    void flags_at_the_bounds();
    void critical_limits_at_and_beyond_their_bounds_data();
    void critical_limits_at_and_beyond_their_bounds();
    void reading_an_age_data();
    void reading_an_age();
    void children_s_ranges_follow_each_other_from_birth();
    void flags_by_age_data();
    void flags_by_age();
    void reading_a_result_data();
    void reading_a_result();
    void a_flag_shows_while_typing();
    void printed_reports_carry_the_flag_column();
};

void TestFlags::every_bound_is_written_in_its_caption() {
    for (const ItemRange& i : normal_ranges()) {
        const QList<double> written_numbers = caption_numbers(QString::fromUtf8(i.item));
        for (const Bounds& b : {i.range.all, i.range.male, i.range.female}) {
            if (b.has_low) QVERIFY2(written_numbers.contains(b.low), i.item);
            if (b.has_high) QVERIFY2(written_numbers.contains(b.high), i.item);
        }
    }
    QCOMPARE(int(normal_ranges().size()), 54); // none lost by accident
}

void TestFlags::flags_at_the_bounds_data() {
    QTest::addColumn<const ItemRange*>("item");
    for (const ItemRange& i : normal_ranges())
        QTest::newRow(qPrintable(QString("%1: %2").arg(i.test->screen, i.item))) << &i;
}

void TestFlags::flags_at_the_bounds() {
    QFETCH(const ItemRange*, item);
    const NormalRange& r = item->range;
    QString unit = " ";
    for (const ResultItem& shown : definition_of(*item->test).items)
        if (QString::fromUtf8(shown.caption) == QString::fromUtf8(item->item))
            unit += QString::fromUtf8(shown.initial_text).trimmed();
    struct Case {
        const Bounds* bounds;
        QString sex;
    };
    QList<Case> cases;
    if (r.by_sex)
        cases = {{&r.male, "M"}, {&r.male, " male "}, {&r.female, "F"}, {&r.female, "Female"}};
    else
        cases = {{&r.all, "M"}, {&r.all, "F"}, {&r.all, "unknown"}};
    for (const Case& c : cases) {
        const double step = 0.01;
        if (c.bounds->has_low) {
            QCOMPARE(result_flag(r, written(c.bounds->low) + unit, c.sex), QString());
            if (c.bounds->low > 0)
                QCOMPARE(result_flag(r, written(c.bounds->low - step), c.sex), QString("L"));
        }
        if (c.bounds->has_high) {
            QCOMPARE(result_flag(r, written(c.bounds->high) + unit, c.sex), QString());
            QCOMPARE(result_flag(r, written(c.bounds->high + step) + unit, c.sex), QString("H"));
            QCOMPARE(result_flag(r, written(c.bounds->high * 10), c.sex), QString("H"));
        }
        QCOMPARE(result_flag(r, "Nil", c.sex), QString());
        QCOMPARE(result_flag(r, "+", c.sex), QString());
    }
    if (r.by_sex) {
        // Sex unknown: no flag, however far out.
        for (const char* sex : {"", "-", "X", "Mal"})
            QCOMPARE(result_flag(r, written(r.male.high * 10), sex), QString());
    }
}

void TestFlags::critical_limits_at_and_beyond_their_bounds_data() {
    QTest::addColumn<const CriticalLimit*>("limit");
    for (const CriticalLimit& l : critical_limits())
        QTest::newRow(qPrintable(QString("%1: %2").arg(l.test->screen, l.name))) << &l;
    QCOMPARE(int(critical_limits().size()), 12); // none lost by accident
}

void TestFlags::critical_limits_at_and_beyond_their_bounds() {
    QFETCH(const CriticalLimit*, limit);
    const Investigation& test = *limit->test;
    const QString item = QString::fromUtf8(limit->item);
    // Only beside a normal range that lies inside the critical limits.
    const NormalRange* range = normal_range(test, item);
    QVERIFY(range);
    for (const Bounds& b : {range->all, range->male, range->female}) {
        if (b.has_low) QVERIFY(limit->bounds.low < b.low);
        if (b.has_high) QVERIFY(limit->bounds.high > b.high);
    }
    const Bounds& c = limit->bounds;
    const double step = c.high >= 1000 ? 1 : 0.1;
    // At a limit: flagged as outside the normal range, not critical; beyond
    // it critical, whatever the patient's sex and age, read or not.
    for (const char* sex : {"M", "F", "-"})
        for (const char* age : {"34", "10 d", "-"}) {
            QCOMPARE(item_flag(test, item, written(c.low), sex, age).size() < 2, true);
            QCOMPARE(item_flag(test, item, written(c.high), sex, age).size() < 2, true);
            QCOMPARE(item_flag(test, item, written(c.low - step), sex, age), QString("LL"));
            QCOMPARE(item_flag(test, item, written(c.high + step) + " units", sex, age), QString("HH"));
        }
    QCOMPARE(stored_result_flag(test.table, item, written(c.high + step), "-", "-"), QString("HH"));
    QCOMPARE(critical_finding(*limit, written(c.high)), QString());
    QCOMPARE(critical_finding(*limit, "Nil"), QString());
    QCOMPARE(critical_finding(*limit, written(c.low - step)),
             QString("%1 %2 (critical below %3)")
                 .arg(limit->name, QString::number(c.low - step, 'g', 12), QString::number(c.low, 'g', 12)));
    QCOMPARE(flag_description("HH"), QString("critically high"));
    QCOMPARE(flag_description("LL"), QString("critically low"));
}

void TestFlags::reading_an_age_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("days"); // -1: not read
    const struct {
        const char* typed;
        int days;
    } cases[] = {
        {"34", 12419},     {" 34 ", 12419},    {"1.5", 548},
        {"34 y", 12419},   {"34 Yrs", 12419},  {"2 years", 731},
        {"6 months", 183}, {"6 m", 183},       {"6m", 183},
        {"6 mo.", 183},    {"12 months", 365}, {"1 y", 365},
        {"3 weeks", 21},   {"3 wk", 21},       {"10 days", 10},
        {"10 d", 10},      {"0 d", 0},         {"2 years 3 months", 822},
        {"2y3m", 822},     {"2y, 3m", 822},    {"3 m 2 y", 822},
        {"150", 54788},    {"", -1},           {"-", -1},
        {"0", -1},         {"adult", -1},      {"34/F", -1},
        {"2 3", -1},       {"2 y 3 y", -1},    {"6 hours", -1},
        {"151", -1},       {"y", -1},          {"-5", -1},
    };
    for (const auto& c : cases)
        QTest::newRow(qPrintable(QString("\"%1\"").arg(c.typed))) << QString(c.typed) << c.days;
}

void TestFlags::reading_an_age() {
    QFETCH(QString, typed);
    QFETCH(int, days);
    const auto read = age_in_days(typed);
    QCOMPARE(read.value_or(-1), days);
}

void TestFlags::children_s_ranges_follow_each_other_from_birth() {
    QMap<QString, QList<const ChildRange*>> by_item;
    for (const ChildRange& c : child_ranges()) {
        // Only beside an item with a range of its own, inside its critical limits.
        QVERIFY2(normal_range(*c.test, c.item), c.item);
        if (const CriticalLimit* limit = critical_limit(*c.test, c.item))
            for (const Bounds& b : {c.range.all, c.range.male, c.range.female}) {
                if (b.has_low) QVERIFY(b.low > limit->bounds.low);
                if (b.has_high) QVERIFY(b.high <= limit->bounds.high);
            }
        by_item[QString::fromLatin1(c.test->table) + "/" + c.item] << &c;
    }
    QCOMPARE(by_item.size(), 2); // haemoglobin and white cells
    for (auto bands : by_item) {
        std::sort(bands.begin(), bands.end(), [](const ChildRange* a, const ChildRange* b) {
            return days_of(a->from) < days_of(b->from);
        });
        QCOMPARE(days_of(bands.first()->from), 0);
        for (qsizetype i = 0; i < bands.size(); ++i) {
            QVERIFY(days_of(bands[i]->from) < days_of(bands[i]->to));
            if (i > 0) QCOMPARE(days_of(bands[i]->from), days_of(bands[i - 1]->to));
        }
    }
}

void TestFlags::flags_by_age_data() {
    QTest::addColumn<QString>("age");
    QTest::addColumn<QString>("sex");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QString>("applied");
    const QString hb = "Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ";
    const QString wbc = "WBC (N : 4000 to 10,000 / cumm)";
    const QString glucose = "Random blood glucose (N:60-140 mg/dl)";
    const struct {
        const char* age;
        const char* sex;
        const QString& item;
        const char* result;
        const char* flag;
        const char* applied;
    } cases[] = {
        // Adults: the caption's range, as always.
        {"34", "F", hb, "10.9", "L", ""},
        {"34", "M", hb, "11.5", "L", ""},
        {"18", "M", hb, "16.5", "H", ""},
        {"40 years", "F", wbc, "10,500", "H", ""},
        {"17", "F", wbc, "12000", "H", ""},
        // Children: their own band, printed with its ages.
        {"10 d", "F", hb, "18.5 gm/dl", "", "13.4 - 19.9 (age 0-1 mo)"},
        {"10 d", "F", hb, "13.3", "L", "13.4 - 19.9 (age 0-1 mo)"},
        {"2 months", "M", hb, "9.0", "", "9.0 - 14.1 (age 2-3 mo)"},
        {"8 m", "M", hb, "14.2", "H", "11.3 - 14.1 (age 6 mo-1 y)"},
        {"3", "F", hb, "11.2", "L", "11.5 - 13.5 (age 2-6 y)"},
        {"3", "F", hb, "13.5", "", "11.5 - 13.5 (age 2-6 y)"},
        {"5 y 11 m", "M", hb, "13.6", "H", "11.5 - 13.5 (age 2-6 y)"},
        {"6", "M", hb, "15.5", "", "11.5 - 15.5 (age 6-12 y)"},
        {"14", "M", hb, "12.5", "L", "13.0 - 16.0 (age 12-18 y, male)"},
        {"14", "F", hb, "12.5", "", "12.0 - 16.0 (age 12-18 y, female)"},
        {"2 weeks", "M", wbc, "25,000 /cumm", "", "9000 - 30000 (age 0-1 mo)"},
        {"3 m", "F", wbc, "5500", "L", "6000 - 17500 (age 3 mo-1 y)"},
        {"5", "M", wbc, "15000", "", "5500 - 15500 (age 4-6 y)"},
        {"16", "M", wbc, "13000", "", "4500 - 13500 (age 8-17 y)"},
        // An age that cannot be read, or a sex a band needs and is not given:
        // no H or L; beyond a critical limit still critical.
        {"-", "F", hb, "9.8", "", "none, age not read"},
        {"", "M", wbc, "40000", "HH", "none, age not read"},
        {"14", "-", hb, "11.0", "", "none, sex not given"},
        {"3", "-", hb, "11.0", "L", "11.5 - 13.5 (age 2-6 y)"},
        // Items without children's ranges do not need an age.
        {"-", "F", glucose, "150", "H", ""},
        {"2 y", "F", glucose, "150", "H", ""},
    };
    for (const auto& c : cases)
        QTest::newRow(qPrintable(QString("%1 %2 %3 %4").arg(c.age, c.sex, c.item.left(5), c.result)))
            << QString(c.age) << QString(c.sex) << c.item << QString(c.result) << QString(c.flag)
            << QString(c.applied);
}

void TestFlags::flags_by_age() {
    QFETCH(QString, age);
    QFETCH(QString, sex);
    QFETCH(QString, item);
    QFETCH(QString, result);
    QFETCH(QString, flag);
    QFETCH(QString, applied);
    const Investigation& test =
        item.startsWith("Random") ? catalogue::kBiochemistryReport : catalogue::kRoutineHaemotology;
    QCOMPARE(item_flag(test, item, result, sex, age), flag);
    QCOMPARE(applied_range(test, item, sex, age).shown, applied);
    QCOMPARE(stored_result_flag(test.table, item, result, sex, age), flag);
    QCOMPARE(flag_against(test, item, result, applied_range(test, item, sex, age)), flag);
}

void TestFlags::reading_a_result_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value"); // NaN: no number
    QTest::newRow("comma groups") << "14,500 /cumm" << 14500.0;
    QTest::newRow("lakh groups") << "1,20,000" << 120000.0;
    QTest::newRow("unit after") << "12 gm/dl" << 12.0;
    QTest::newRow("no blank before unit") << "9.8gm/dl" << 9.8;
    QTest::newRow("blanks around") << "  7.25  " << 7.25;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("text") << "Nil" << qQNaN();
    QTest::newRow("sign") << "+" << qQNaN();
    QTest::newRow("negative") << "-5" << qQNaN();
    QTest::newRow("reactive") << "Reactive 1:80" << qQNaN();
}

void TestFlags::reading_a_result() {
    QFETCH(QString, text);
    QFETCH(double, value);
    const auto read = leading_number(text);
    QCOMPARE(read.has_value(), !std::isnan(value));
    if (read) QCOMPARE(*read, value);
}

void TestFlags::a_flag_shows_while_typing() {
    ProgramFolder folder;
    MessageRecorder messages;
    app_state().register_on_save = true;
    auto* screen = qobject_cast<TestScreen*>(screens::open("Routine_haemotology"));
    show_active(screen);
    auto* flag = screen->findChild<QLabel*>("Flag(0)");
    QVERIFY(flag);
    QVERIFY(!screen->findChild<QLabel*>("Flag(2)")); // the differential counts carry no range
    // What is seen beside the box and what a screen reader hears of the box.
    QWidget* box = screen->result_box(0);
    auto* sex = screen->findChild<QLineEdit*>("Text3");
    auto* age = screen->findChild<QLineEdit*>("Text4");
    const struct {
        const char* age;
        const char* sex;
        const char* result;
        const char* flag;
        const char* heard;
    } cases[] = {
        {"34", "F", "9.8 gm/dl", "L", "low"},
        {"34", "F", "12 gm/dl", "", ""},
        {"34", "F", "15.5 gm/dl", "H", "high"},
        {"34", "M", "15.5 gm/dl", "", ""}, // the sex changes the range
        {"34", "-", "17 gm/dl", "", ""},   // sex unknown: no H or L
        {"34", "-", "25 gm/dl", "HH", "critically high"},
        {"34", "F", "6.5 gm/dl", "LL", "critically low"}, // critical: any sex
        {"34", "F", "6.6 gm/dl", "L", "low"},             // at the critical limit
        // The age changes the range: a child's, said and shown.
        {"3", "F", "11.2 gm/dl", "L", "low; range applied: 11.5 - 13.5 (age 2-6 y)"},
        {"-", "F", "9.8 gm/dl", "", "range applied: none, age not read"},
    };
    for (const auto& c : cases) {
        age->setText(c.age);
        sex->setText(c.sex);
        set_box_text(box, c.result);
        QCOMPARE(flag->text(), QString(c.flag));
        QCOMPARE(box->accessibleDescription(), QString(c.heard));
        QCOMPARE(flag->accessibleDescription(), QString(c.heard));
        QCOMPARE(flag->toolTip().isEmpty(), QString(c.age) == "34");
    }
    close_screens();
}

void TestFlags::printed_reports_carry_the_flag_column() {
    ProgramFolder folder;
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Asha D'Souza", "34", "F")).ok());
    QVERIFY(save_report(kStaff,
                        {std::nullopt,
                         {1, 1, "", "", "Routine haemotology", "", "N"},
                         "Routine_haemotology",
                         {{0, "Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ", "9.8 gm/dl"},
                          {0, "WBC (N : 4000 to 10,000 / cumm)", "14,500 /cumm"},
                          {0, "Polymorphs", "70%"}}})
                .ok());
    QVERIFY(save_report(kStaff, {std::nullopt,
                                 {2, 1, "", "", "Biochemistry report", "", "N"},
                                 "biochemistry_report",
                                 {{0, "Serum Potassiun (N : 3.5 - 5.0 meq / L)", "5.6 meq/L"},
                                  {0, "Serum sodium (N : 136 - 146 meq/L) ", "140 meq/L"},
                                  {0, "Serum Calcium (N : 9 - 11 mg/dl)", "6.2 mg/dl"}}})
                .ok());
    // A child of three: her haemoglobin against a child's range, printed.
    QVERIFY(add_patient(kStaff, minimal_patient(2, "Tara D'Souza", "3", "F")).ok());
    QVERIFY(save_report(kStaff, {std::nullopt,
                                 {3, 2, "", "", "Routine haemotology", "", "N"},
                                 "Routine_haemotology",
                                 {{0, "Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ",
                                   "11.2 gm/dl"}}})
                .ok());
    QVERIFY(fill_consolidated(1).ok());
    const struct {
        const char* file;
        qint64 lab_id; // 0: the consolidated report, no selection
        QStringList flagged, plain;
    } cases[] = {
        {"h_routine_haemotology.rpt", 1, {"9.8 gm/dl L", "14,500 /cumm H"}, {"70%"}},
        {"h_biochemistry_report.rpt", 2, {"5.6 meq/L H", "6.2 mg/dl LL"}, {"140 meq/L"}},
        {"h_consolidated_report.rpt", 0, {"9.8 gm/dl L", "5.6 meq/L H"}, {"140 meq/L", "70%"}},
        {"routine_haemotology.rpt", 3, {"11.2 gm/dl L", "Range applied: 11.5 - 13.5 (age 2-6 y)"}, {}},
    };
    ReportsReadSharedConnection with_build;
    for (const auto& c : cases) {
        const Prepared p =
            prepare_report({QString(REPORT_FILES_DIR) + "/" + c.file,
                            c.lab_id ? std::optional<Selection>(lab_id_selection(c.lab_id)) : std::nullopt},
                           folder.database_path());
        QVERIFY2(p.report, qPrintable(p.error));
        const QString pdf = QDir(folder.path()).filePath("flags.pdf");
        QVERIFY(write_pdf(*p.report, pdf).isEmpty());
        QString text = pdf_to_text(pdf, 0, true);
        text.replace(QRegularExpression(" {2,}"), " ");
        for (const QString& f : c.flagged)
            QVERIFY2(text.contains(f), qPrintable(QString("%1: %2").arg(c.file, f)));
        if (c.lab_id != 3) QVERIFY2(!text.contains("Range applied"), c.file); // adults: the caption's range
        for (const QString& f : c.plain) {
            QVERIFY2(text.contains(f), qPrintable(f));
            QVERIFY2(!text.contains(f + " H") && !text.contains(f + " L"), qPrintable(f));
        }
    }
}

TAVORA_TEST_MAIN(TestFlags)
#include "test_flags.moc"
