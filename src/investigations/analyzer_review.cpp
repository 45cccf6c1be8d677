#include "analyzer_review.h"

#include "typed_text.h"

#include <algorithm>
#include <limits>
#include <map>
#include <tuple>
#include <vector>

namespace {

// Captions and test names as the laboratory types them into the codes file:
// letter case and runs of blanks do not matter.
bool same_name(const QString& a, const QString& b) {
    return a.simplified().compare(b.simplified(), Qt::CaseInsensitive) == 0;
}

// The test whose screen is titled so (as the laboratory types it), or nullptr.
const TestDefinition* test_named(const QString& name) {
    for (const TestDefinition* test : test_catalogue())
        if (same_name(QString::fromUtf8(test->investigation->test), name)) return test;
    return nullptr;
}

} // namespace

bool mapping_takes(const CodeMapping& mapping, const AnalyzerResult& result) {
    const bool named =
        mapping.code.compare(result.code, Qt::CaseInsensitive) == 0 ||
        (!result.test_id.isEmpty() && mapping.code.compare(result.test_id, Qt::CaseInsensitive) == 0);
    if (!named || mapping.type.isEmpty()) return named;
    const QStringList parts = result.test_id.split(u'^');
    return mapping.type.compare(result.status, Qt::CaseInsensitive) == 0 ||
           (parts.size() > 4 && mapping.type.compare(parts.last(), Qt::CaseInsensitive) == 0);
}

const TestDefinition* mapped_test(const CodeMapping& mapping) {
    return test_named(mapping.test);
}

int mapped_box(const TestDefinition& test, const CodeMapping& mapping) {
    if (!same_name(QString::fromUtf8(test.investigation->test), mapping.test)) return -1;
    for (int i = 0; i < test.box_count; ++i)
        if (!test.items[i].disabled && same_name(QString::fromUtf8(test.items[i].caption), mapping.item))
            return i;
    return -1;
}

QStringList code_problems(const AnalyzerCodes& codes) {
    QStringList out = codes.problems;
    for (const CodeMapping& m : codes.mappings) {
        const TestDefinition* test = mapped_test(m);
        if (!test)
            out << QStringLiteral("line %1: %2: no test is called \"%3\"").arg(m.line).arg(m.code, m.test);
        else if (mapped_box(*test, m) < 0)
            out << QStringLiteral("line %1: %2: %3 has no item \"%4\"")
                       .arg(m.line)
                       .arg(m.code, m.test, m.item);
    }
    return out;
}

AnalyzerFill analyzer_fill(const TestDefinition& test, const QList<PendingResult>& pending,
                           const AnalyzerCodes& codes, const QStringList& box_texts,
                           const std::function<bool(const QString&)>& only_unit) {
    // Box by box: the latest result, and every result sent for it.
    std::map<int, std::pair<const PendingResult*, const CodeMapping*>> latest;
    std::map<int, QList<qint64>> used;
    for (const PendingResult& p : pending)
        for (const CodeMapping& m : codes.mappings) {
            if (!mapping_takes(m, p.result)) continue;
            const int box = mapped_box(test, m);
            if (box < 0) continue;
            used[box] << p.id;
            if (!latest.count(box) || latest[box].first->id < p.id) latest[box] = {&p, &m};
            break;
        }
    AnalyzerFill fill;
    for (const auto& [box, found] : latest) {
        const QString shown = box_texts.value(box);
        const QString initial = QString::fromUtf8(test.items[box].initial_text);
        const bool typed = !only_unit(shown);
        // In front of the unit the box shows, as typing puts it; a box that
        // shows none gets the codes file's unit.
        QString unit = !typed && !trim_blanks(shown).isEmpty() ? shown
                       : !trim_blanks(initial).isEmpty()       ? initial
                       : found.second->unit.isEmpty()          ? QString()
                                                               : u' ' + found.second->unit;
        const QString text = found.first->result.value + unit;
        if (text.size() > test.max_length) continue; // longer than the box takes: typed by hand
        fill.boxes << AnalyzerFill::Box{box, text, typed, used[box]};
    }
    return fill;
}

QList<PendingLine> pending_overview(const QList<PendingResult>& pending, const AnalyzerCodes& codes,
                                    const QHash<QString, QString>& report_tests) {
    QMultiHash<QString, const CodeMapping*> by_code;
    for (const CodeMapping& m : codes.mappings)
        by_code.insert(m.code.toLower(), &m);
    // The lines of the codes file that take a result (by its code or its whole test id).
    auto mappings_of = [&](const AnalyzerResult& r) {
        QList<const CodeMapping*> out;
        for (const QString& name : {r.code.toLower(), r.test_id.toLower()})
            for (const CodeMapping* m : by_code.values(name))
                if (!out.contains(m) && mapping_takes(*m, r)) out << m;
        return out;
    };
    // The box of each (report's test, code, test id, status), worked out
    // once: ten thousand waiting results come from a few dozen of them.
    QHash<QStringList, std::optional<QString>> boxes;
    auto box_for = [&](const QString& test_name, const AnalyzerResult& r) -> std::optional<QString> {
        const QStringList key{test_name, r.code.toLower(), r.test_id.toLower(), r.status.toLower()};
        if (const auto found = boxes.constFind(key); found != boxes.constEnd()) return *found;
        std::optional<QString> item;
        const TestDefinition* test = test_named(test_name);
        for (const CodeMapping* m : mappings_of(r)) {
            const int box = test ? mapped_box(*test, *m) : -1;
            if (box >= 0) item = QString::fromUtf8(test->items[box].caption).simplified();
        }
        boxes.insert(key, item);
        return item;
    };
    QList<PendingLine> lines;
    lines.reserve(pending.size());
    for (const PendingResult& p : pending) {
        PendingLine line{PendingLine::Kind::NoReport, p, report_tests.value(p.result.lab_id), {}};
        if (!line.test.isEmpty()) {
            const std::optional<QString> item = box_for(line.test, p.result);
            line.kind = item ? PendingLine::Kind::Ready : PendingLine::Kind::NoMapping;
            line.item = item.value_or(QString());
        } else {
            // Where it will go once its report is saved: the first test the code fills a box of.
            for (const CodeMapping* m : mappings_of(p.result))
                if (const TestDefinition* t = mapped_test(*m); t && line.test.isEmpty()) {
                    line.test = QString::fromUtf8(t->investigation->test);
                    line.item = box_for(line.test, p.result).value_or(QString());
                }
        }
        lines << line;
    }
    // A box takes the latest result for it: the others sent for the same
    // box and lab id say so.
    QHash<QStringList, qint64> latest;
    for (const PendingLine& l : lines)
        if (l.kind == PendingLine::Kind::Ready) {
            qint64& id = latest[{l.pending.result.lab_id, l.item}];
            id = std::max(id, l.pending.id);
        }
    for (PendingLine& l : lines)
        if (l.kind == PendingLine::Kind::Ready &&
            latest.value({l.pending.result.lab_id, l.item}) != l.pending.id)
            l.kind = PendingLine::Kind::Replaced;
    // Whole-number lab ids in their numeric order, others after them; each
    // line's place worked out once.
    struct Place {
        int kind;
        qint64 number;
        QString lab_id;
        qint64 id;
        qsizetype line;
        bool operator<(const Place& o) const {
            return std::tie(kind, number, lab_id, id) < std::tie(o.kind, o.number, o.lab_id, o.id);
        }
    };
    std::vector<Place> places;
    places.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const AnalyzerResult& r = lines[i].pending.result;
        bool whole = false;
        const qint64 n = r.lab_id.toLongLong(&whole);
        places.push_back({int(lines[i].kind), whole ? n : std::numeric_limits<qint64>::max(), r.lab_id,
                          lines[i].pending.id, i});
    }
    std::sort(places.begin(), places.end());
    QList<PendingLine> sorted;
    sorted.reserve(lines.size());
    for (const Place& p : places)
        sorted << lines[p.line];
    return sorted;
}
