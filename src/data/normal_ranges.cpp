#include "normal_ranges.h"

#include <QHash>

namespace {

constexpr ItemRange kRanges[] = {
    {&catalogue::kBloodSugarReport, "Fasting blood glucose (N :60 - 100 mg/dl)", between(60, 100)},
    {&catalogue::kBloodSugarReport, "Post-prandial blood glucose   (N : 70 - 140 mg/dl)", between(70, 140)},
    {&catalogue::kBloodSugarReport, "Random blood glucose (N : 60 - 140 mg/dl)", between(60, 140)},
    {&catalogue::kBloodSugarReport, "HbAIC (3.0 - 6.67%)", between(3.0, 6.67)},
    {&catalogue::kThyroidHormoneProfile, "Triiodo Thyronine (T3) (N : 60 - 200 ng/dl)", between(60, 200)},
    {&catalogue::kThyroidHormoneProfile, "Thyroxine (T4) (N : 4.5 - 12.0 ug/dl)", between(4.5, 12.0)},
    {&catalogue::kThyroidHormoneProfile, "Thyroid stimulating hormone (TSH)         (N : 0.30 - 5.5 ulU/ml)",
     between(0.30, 5.5)},
    {&catalogue::kThyroidHormoneProfile, "Free Triiodo Thyronine (FT3) (N : 1.7 - 4.2)", between(1.7, 4.2)},
    {&catalogue::kThyroidHormoneProfile, "Free Thyroxine (FT4) (N : 0.70 - 1.80)", between(0.70, 1.80)},
    {&catalogue::kBiochemistryReport, "Fasting blood Glucose (N : 60 - 100 mg/dl)", between(60, 100)},
    {&catalogue::kBiochemistryReport, "Post prandial blood glucose (N:70 - 140 mg/dl)", between(70, 140)},
    {&catalogue::kBiochemistryReport, "Random blood glucose (N:60-140 mg/dl)", between(60, 140)},
    {&catalogue::kBiochemistryReport, "Blood urea (N:15 - 45 mg/dl)", between(15, 45)},
    {&catalogue::kBiochemistryReport, "Blood urea Nitrogen (N: 6 - 20 mg/dl)", between(6, 20)},
    {&catalogue::kBiochemistryReport, "Serum Creatinine (N : 0.9 - 1.5 mg/dl)", between(0.9, 1.5)},
    {&catalogue::kBiochemistryReport, "Serum CPK (N:0-200 IU/L)", between(0, 200)},
    {&catalogue::kBiochemistryReport, "Serum CPK - MB (N : 4 - 25 IU/L)", between(4, 25)},
    {&catalogue::kBiochemistryReport, "Serum LDH (N : 70 - 240 IU/L)", between(70, 240)},
    {&catalogue::kBiochemistryReport, "Serum Amylase (N : 35 - 140 IU/L)", between(35, 140)},
    {&catalogue::kBiochemistryReport, "S.Acid Phosphatase : Total (N : 1-4 IU/L)", between(1, 4)},
    {&catalogue::kBiochemistryReport, "S.Acid phosphatase : Prostatic Fraction (N:0.0 - 0.8 IU/L)",
     between(0.0, 0.8)},
    {&catalogue::kBiochemistryReport, "Serum Calcium (N : 9 - 11 mg/dl)", between(9, 11)},
    {&catalogue::kBiochemistryReport, "S.Inorganic Phospharous (N : 2.5 - 4.8 mg/dl)", between(2.5, 4.8)},
    {&catalogue::kBiochemistryReport, "Serum Uric acid (N : 2.5 - 7.0 mg/dl)", between(2.5, 7.0)},
    {&catalogue::kBiochemistryReport, "Serum sodium (N : 136 - 146 meq/L) ", between(136, 146)},
    {&catalogue::kBiochemistryReport, "Serum Potassiun (N : 3.5 - 5.0 meq / L)", between(3.5, 5.0)},
    {&catalogue::kBiochemistryReport, "Serum Chloride (N : 96 - 106 meq / L)", between(96, 106)},
    {&catalogue::kBiochemistryReport, "Serum Iron (N : 60 - 150 ug/dl)", between(60, 150)},
    {&catalogue::kBiochemistryReport, "Serum total Iron binding capacity (N : 270 - 380 ug/dl)",
     between(270, 380)},
    {&catalogue::kBiochemistryReport, "S.Billirubin : Total (N : 0.2 - 1.0 mg/dl)", between(0.2, 1.0)},
    {&catalogue::kBiochemistryReport, "S.billirubin : Direct (N : 0.2 - 0.4 mg/dl)", between(0.2, 0.4)},
    {&catalogue::kBiochemistryReport, "S.G.O.T. (N : 5 - 40 U/L)", between(5, 40)},
    {&catalogue::kBiochemistryReport, "S.G.P.T (N: 5 - 35 U/L)", between(5, 35)},
    {&catalogue::kBiochemistryReport, "S.Protien : Total (N : 6.0 - 8.0 gm/dl)", between(6.0, 8.0)},
    {&catalogue::kBiochemistryReport, "S.Protien : Albumin (N : 3.2 - 5.5 gm/dl)", between(3.2, 5.5)},
    {&catalogue::kBiochemistryReport, "S.Protien : Globulin (N : 2.3 - 3.5 gm/dl)", between(2.3, 3.5)},
    {&catalogue::kBiochemistryReport, "Gamma GT (N : 5 - 47 IU/L)", between(5, 47)},
    {&catalogue::kBiochemistryReport, "Total Triglyceride (60 - 150 mg/dl)", up_to(150)},
    {&catalogue::kBiochemistryReport, "Total Cholesterol (150 - 200 mg/dl)", up_to(200)},
    {&catalogue::kBiochemistryReport, "High density lipoproteins (HDL) (30 - 70 mg/dl)", at_least(30)},
    {&catalogue::kBiochemistryReport, "Low density lipoproteins (LDL) (upto 150 mg/dl)", up_to(150)},
    {&catalogue::kBiochemistryReport, "Very low density lipoproteins (VLDL) (25 - 50 mg/dl)",
     between(25, 50)},
    {&catalogue::kBiochemistryReport, "Serum LP(a) Levels (N - upto 30 mg/dl)", up_to(30)},
    {&catalogue::kRoutineHaemotology, "Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ",
     by_sex(12, 16, 11, 15)},
    {&catalogue::kRoutineHaemotology, "WBC (N : 4000 to 10,000 / cumm)", between(4000, 10000)},
    {&catalogue::kRoutineHaemotology, "ESR (Westergren's) N : M 2-10; F 2 - 15 Half hour",
     by_sex(2, 10, 2, 15)},
    {&catalogue::kRoutineHaemotology, "ESR (Westergren's) N : M 2-10; F 2 - 15 One hour",
     by_sex(2, 10, 2, 15)},
    {&catalogue::kRoutineHaemotology, "Platelet count (N : 1,40,000 - 4,40,000/- cumm)",
     between(140000, 440000)},
    {&catalogue::kRoutineHaemotology, "Absolute Eosinophilcount (N : 40 - 440 / cumm)", between(40, 440)},
    {&catalogue::kRoutineHaemotology,
     "RBC count (N : male 4.5 - 5.5 million n/cumm; Female 3.5 - 4.5 million/cumm)",
     by_sex(4.5, 5.5, 3.5, 4.5)},
    {&catalogue::kRoutineHaemotology, "Serum IGE levels N : 0 - 120)", between(0, 120)},
    {&catalogue::kRbcIndices, "Mean cell volume (N : 80 - 97)", between(80, 97)},
    {&catalogue::kRbcIndices, "Mean cell haemoglobin (N : 26.5 - 33.5)", between(26.5, 33.5)},
    {&catalogue::kRbcIndices, "Mean cell haemoglobin concentration         (N : 31.5 - 35.0)",
     between(31.5, 35.0)},
};

// Children's ranges, only where a published paediatric table gives an
// interval for the item's unit. Each band is written as its source gives it.
//
// [Iowa] University of Iowa Department of Pathology, Laboratory Services
//   Handbook, appendix "Pediatric Reference Ranges", hematology table
//   (healthcare.uiowa.edu/path_handbook/appendix/heme/pediatric_normals.html):
//   haemoglobin in gm/dL to 1 year, white cells per mm3 to 4 years.
// [Dallman] Dallman PR, in Rudolph AM (ed.), Pediatrics, 16th ed., New York:
//   Appleton-Century-Crofts, 1977, p. 1111, as reproduced in Nathan and Oski's
//   Hematology of Infancy and Childhood, "Normal hematologic values in
//   children": haemoglobin in g/dl as the mean and the mean - 2 SD; the range
//   is the mean +/- 2 SD ("0.5 to 2 years 12.0 / 10.5" is 10.5 - 13.5).
// [FPN] Family Practice Notebook, "White Blood Cell Count", interpretation:
//   normal range by age (fpnotebook.com/legacy/HemeOnc/Lab/WhtBldCl.htm),
//   in 10^9/L: age 4 years 5.5 - 15.5, age 6 years 5.0 - 14.5, 8 to 16 years
//   4.5 - 13.5. The age-4 figures stand for 4 to 6 years and the age-6
//   figures for 6 to 8 years.
//
// Platelets, glucose, calcium, potassium, sodium and creatinine keep their
// caption's range at every age: the tables at hand give them at single ages
// only, or for a method (creatinine) that may not be the laboratory's.
constexpr const char* kHaemoglobin = "Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ";
constexpr const char* kWhiteCells = "WBC (N : 4000 to 10,000 / cumm)";
constexpr Age kBirth{0, AgeUnit::Days};

constexpr ChildRange kChildRanges[] = {
    // [Iowa]
    {&catalogue::kRoutineHaemotology, kHaemoglobin, kBirth, months(1), between(13.4, 19.9), 1},
    {&catalogue::kRoutineHaemotology, kHaemoglobin, months(1), months(2), between(10.7, 17.1), 1},
    {&catalogue::kRoutineHaemotology, kHaemoglobin, months(2), months(3), between(9.0, 14.1), 1},
    {&catalogue::kRoutineHaemotology, kHaemoglobin, months(3), months(6), between(9.5, 14.1), 1},
    {&catalogue::kRoutineHaemotology, kHaemoglobin, months(6), years(1), between(11.3, 14.1), 1},
    // [Dallman] 0.5 to 2 years (from 1 year: [Iowa] covers the first), 2 to 6,
    // 6 to 12, 12 to 18 years by sex.
    {&catalogue::kRoutineHaemotology, kHaemoglobin, years(1), years(2), between(10.5, 13.5), 1},
    {&catalogue::kRoutineHaemotology, kHaemoglobin, years(2), years(6), between(11.5, 13.5), 1},
    {&catalogue::kRoutineHaemotology, kHaemoglobin, years(6), years(12), between(11.5, 15.5), 1},
    {&catalogue::kRoutineHaemotology, kHaemoglobin, years(12), years(18), by_sex(13.0, 16.0, 12.0, 16.0), 1},
    // [Iowa]
    {&catalogue::kRoutineHaemotology, kWhiteCells, kBirth, months(1), between(9000, 30000), 0},
    {&catalogue::kRoutineHaemotology, kWhiteCells, months(1), months(3), between(5000, 19500), 0},
    {&catalogue::kRoutineHaemotology, kWhiteCells, months(3), years(1), between(6000, 17500), 0},
    {&catalogue::kRoutineHaemotology, kWhiteCells, years(1), years(2), between(6000, 17000), 0},
    {&catalogue::kRoutineHaemotology, kWhiteCells, years(2), years(4), between(5500, 15500), 0},
    // [FPN]
    {&catalogue::kRoutineHaemotology, kWhiteCells, years(4), years(6), between(5500, 15500), 0},
    {&catalogue::kRoutineHaemotology, kWhiteCells, years(6), years(8), between(5000, 14500), 0},
    {&catalogue::kRoutineHaemotology, kWhiteCells, years(8), years(17), between(4500, 13500), 0},
};

constexpr Bounds outside(double low, double high) {
    return {true, low, true, high};
}

// Critical limits: the mean low and high limits of the United States medical
// centres surveyed by Kost, the figures most textbooks reproduce.
//   Chemistry: Kost GJ. Critical limits for urgent clinician notification at
//   US medical centers. JAMA 1990;263(5):704-707 (sodium 120/158 mmol/L,
//   potassium 2.8/6.2 mmol/L, calcium 6.6/12.9 mg/dl, glucose 46/484 mg/dl).
//   Haematology: Kost GJ. Using critical limits to improve patient outcome.
//   Medical Laboratory Observer 1993;25(3):22-27, as tabulated in Henry's
//   Clinical Diagnosis and Management by Laboratory Methods (haemoglobin
//   6.6/19.9 g/dl, white cells 2,000/37,000 and platelets 37,000/910,000 per
//   cumm).
// Sodium and potassium in meq/L are the same numbers as in mmol/L. The
// prothrombin screen records times and an index, not an INR, so it has no
// limit here: its numbers depend on the reagent.
constexpr CriticalLimit kCriticalLimits[] = {
    {&catalogue::kBiochemistryReport, "Serum Potassiun (N : 3.5 - 5.0 meq / L)", "Potassium",
     outside(2.8, 6.2)},
    {&catalogue::kBiochemistryReport, "Serum sodium (N : 136 - 146 meq/L) ", "Sodium", outside(120, 158)},
    {&catalogue::kBiochemistryReport, "Serum Calcium (N : 9 - 11 mg/dl)", "Calcium", outside(6.6, 12.9)},
    {&catalogue::kBiochemistryReport, "Fasting blood Glucose (N : 60 - 100 mg/dl)", "Fasting blood glucose",
     outside(46, 484)},
    {&catalogue::kBiochemistryReport, "Post prandial blood glucose (N:70 - 140 mg/dl)",
     "Post-prandial blood glucose", outside(46, 484)},
    {&catalogue::kBiochemistryReport, "Random blood glucose (N:60-140 mg/dl)", "Random blood glucose",
     outside(46, 484)},
    {&catalogue::kBloodSugarReport, "Fasting blood glucose (N :60 - 100 mg/dl)", "Fasting blood glucose",
     outside(46, 484)},
    {&catalogue::kBloodSugarReport, "Post-prandial blood glucose   (N : 70 - 140 mg/dl)",
     "Post-prandial blood glucose", outside(46, 484)},
    {&catalogue::kBloodSugarReport, "Random blood glucose (N : 60 - 140 mg/dl)", "Random blood glucose",
     outside(46, 484)},
    {&catalogue::kRoutineHaemotology, "Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ",
     "Haemoglobin", outside(6.6, 19.9)},
    {&catalogue::kRoutineHaemotology, "WBC (N : 4000 to 10,000 / cumm)", "White cells", outside(2000, 37000)},
    {&catalogue::kRoutineHaemotology, "Platelet count (N : 1,40,000 - 4,40,000/- cumm)", "Platelets",
     outside(37000, 910000)},
};

QString item_key(const Investigation& test, const QString& item) {
    return QString::fromLatin1(test.table) + u'\x1f' + item.trimmed();
}

// A number as a message writes it: no digit groups, no trailing zeros.
QString written(double value) {
    return QString::number(value, 'g', 12);
}

} // namespace

std::span<const CriticalLimit> critical_limits() {
    return kCriticalLimits;
}

const CriticalLimit* critical_limit(const Investigation& test, const QString& item) {
    static const QHash<QString, const CriticalLimit*> limits = [] {
        QHash<QString, const CriticalLimit*> h;
        for (const CriticalLimit& l : kCriticalLimits)
            h.insert(item_key(*l.test, QString::fromUtf8(l.item)), &l);
        return h;
    }();
    return limits.value(item_key(test, item));
}

QString critical_flag(const CriticalLimit& limit, const QString& result) {
    const auto value = leading_number(result);
    if (!value) return {};
    if (limit.bounds.has_high && *value > limit.bounds.high) return QStringLiteral("HH");
    if (limit.bounds.has_low && *value < limit.bounds.low) return QStringLiteral("LL");
    return {};
}

QString critical_finding(const CriticalLimit& limit, const QString& result) {
    const QString flag = critical_flag(limit, result);
    if (flag.isEmpty()) return {};
    const bool high = flag == QLatin1String("HH");
    return QStringLiteral("%1 %2 (critical %3 %4)")
        .arg(QString::fromUtf8(limit.name), written(*leading_number(result)),
             high ? QStringLiteral("above") : QStringLiteral("below"),
             written(high ? limit.bounds.high : limit.bounds.low));
}

QStringList critical_findings(const Investigation& test, const QList<std::pair<QString, QString>>& results) {
    QStringList findings;
    for (const auto& [item, result] : results)
        if (const CriticalLimit* limit = critical_limit(test, item))
            if (QString finding = critical_finding(*limit, result); !finding.isEmpty()) findings << finding;
    return findings;
}

QString critical_message(const QStringList& findings) {
    return QStringLiteral("%1: %2. Inform the referring doctor now.")
        .arg(findings.size() == 1 ? QStringLiteral("Critical value") : QStringLiteral("Critical values"),
             findings.join(QStringLiteral("; ")));
}

std::span<const ItemRange> normal_ranges() {
    return kRanges;
}

std::optional<double> leading_number(const QString& result) {
    const QString text = result.trimmed();
    if (text.isEmpty() || !(text[0].isDigit() || (text[0] == u'.' && text.size() > 1 && text[1].isDigit())))
        return std::nullopt;
    QString number;
    bool point = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 128) {
            number += c;
        } else if (c == u',' && i + 1 < text.size() && text[i + 1].isDigit() && !point) {
            continue; // a digit-group comma
        } else if (c == u'.' && !point && i + 1 < text.size() && text[i + 1].isDigit()) {
            number += c;
            point = true;
        } else {
            break;
        }
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

Sex sex_of(const QString& text) {
    const QString s = text.trimmed().toLower();
    if (s == QLatin1String("m") || s == QLatin1String("male")) return Sex::Male;
    if (s == QLatin1String("f") || s == QLatin1String("female")) return Sex::Female;
    return Sex::Unknown;
}

namespace {

// The bounds of a range for a patient's sex; none by sex for an unknown sex.
std::optional<Bounds> bounds_for(const NormalRange& range, const QString& sex) {
    if (!range.any()) return std::nullopt;
    if (!range.by_sex) return range.all;
    switch (sex_of(sex)) {
    case Sex::Male:
        return range.male;
    case Sex::Female:
        return range.female;
    case Sex::Unknown:
        break;
    }
    return std::nullopt;
}

QString bounds_flag(const Bounds& bounds, const QString& result) {
    const auto value = leading_number(result);
    if (!value) return {};
    if (bounds.has_high && *value > bounds.high) return QStringLiteral("H");
    if (bounds.has_low && *value < bounds.low) return QStringLiteral("L");
    return {};
}

} // namespace

QString result_flag(const NormalRange& range, const QString& result, const QString& sex) {
    const auto bounds = bounds_for(range, sex);
    return bounds ? bounds_flag(*bounds, result) : QString();
}

std::span<const ChildRange> child_ranges() {
    return kChildRanges;
}

AppliedRange applied_range(const Investigation& test, const QString& item, const QString& sex,
                           const QString& age) {
    static const QMultiHash<QString, const ChildRange*> children = [] {
        QMultiHash<QString, const ChildRange*> h;
        for (const ChildRange& c : kChildRanges)
            h.insert(item_key(*c.test, QString::fromUtf8(c.item)), &c);
        return h;
    }();
    const NormalRange* own = normal_range(test, item);
    const auto bands = children.values(item_key(test, item));
    if (bands.isEmpty()) return {own ? bounds_for(*own, sex) : std::nullopt, {}};
    const auto days = age_in_days(age);
    if (!days) return {std::nullopt, QStringLiteral("none, age not read")};
    for (const ChildRange* band : bands) {
        if (*days < days_of(band->from) || *days >= days_of(band->to)) continue;
        const auto bounds = bounds_for(band->range, sex);
        if (!bounds) return {std::nullopt, QStringLiteral("none, sex not given")};
        QString shown = QStringLiteral("%1 - %2 (age %3")
                            .arg(QString::number(bounds->low, 'f', band->decimals),
                                 QString::number(bounds->high, 'f', band->decimals),
                                 age_band_shown(band->from, band->to));
        if (band->range.by_sex)
            shown += sex_of(sex) == Sex::Male ? QStringLiteral(", male") : QStringLiteral(", female");
        return {bounds, shown + u')'};
    }
    return {own ? bounds_for(*own, sex) : std::nullopt, {}};
}

const NormalRange* normal_range(const Investigation& test, const QString& item) {
    // By test (one row of the catalogue each) and trimmed caption.
    static const QHash<QString, const NormalRange*> ranges = [] {
        QHash<QString, const NormalRange*> h;
        for (const ItemRange& r : kRanges)
            h.insert(item_key(*r.test, QString::fromUtf8(r.item)), &r.range);
        return h;
    }();
    return ranges.value(item_key(test, item));
}

QString flag_against(const Investigation& test, const QString& item, const QString& result,
                     const AppliedRange& applied) {
    if (const CriticalLimit* limit = critical_limit(test, item))
        if (QString flag = critical_flag(*limit, result); !flag.isEmpty()) return flag;
    return applied.bounds ? bounds_flag(*applied.bounds, result) : QString();
}

QString item_flag(const Investigation& test, const QString& item, const QString& result, const QString& sex,
                  const QString& age) {
    return flag_against(test, item, result, applied_range(test, item, sex, age));
}

QString stored_result_flag(const QString& table, const QString& item, const QString& result,
                           const QString& sex, const QString& age) {
    const Investigation* test = catalogue::by_table(table);
    return test ? item_flag(*test, item, result, sex, age) : QString();
}

QString flag_description(const QString& flag) {
    if (flag == QLatin1String("H")) return QStringLiteral("high");
    if (flag == QLatin1String("L")) return QStringLiteral("low");
    if (flag == QLatin1String("HH")) return QStringLiteral("critically high");
    if (flag == QLatin1String("LL")) return QStringLiteral("critically low");
    return {};
}
