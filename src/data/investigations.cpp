#include "investigations.h"

namespace catalogue {

const Investigation* by_table(const QString& table) {
    for (const Investigation* t : kAll)
        if (table.compare(QLatin1String(t->table), Qt::CaseInsensitive) == 0) return t;
    return nullptr;
}

const Investigation* by_test(const QString& test) {
    for (const Investigation* t : kAll)
        if (test.compare(QString::fromUtf8(t->test), Qt::CaseInsensitive) == 0 ||
            test.compare(QLatin1String(t->consolidated_name), Qt::CaseInsensitive) == 0)
            return t;
    return nullptr;
}

const Investigation* by_screen(const QString& screen) {
    for (const Investigation* t : kAll)
        if (screen == QLatin1String(t->screen)) return t;
    return nullptr;
}

const Sampling& sampling(const Investigation* test) {
    for (const Sampling& s : kSampling)
        if (s.test == test) return s;
    return kSampling[0]; // every test has its row (checked by the tests)
}

namespace {
constexpr const char* kSampleNames[] = {"blood", "serum", "urine", "stool", "swab/pus", "smear"};
}

QString sample_name(SampleKind kind) {
    return QString::fromLatin1(kSampleNames[int(kind)]);
}

std::optional<SampleKind> sample_named(const QString& name) {
    for (int i = 0; i < int(std::size(kSampleNames)); ++i)
        if (name == QLatin1String(kSampleNames[i])) return SampleKind(i);
    return std::nullopt;
}

} // namespace catalogue
