#include "test_support.h"

#include "key_filters.h"

#include <QLineEdit>
#include <QTextEdit>
#include <QVBoxLayout>

// A small form: three boxes that move on with Enter, the first one filtered.
struct Form {
    QWidget window;
    QLineEdit* a = new QLineEdit(&window);
    QLineEdit* b = new QLineEdit(&window);
    QTextEdit* rich = new QTextEdit(&window);
    Form() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(a);
        layout->addWidget(b);
        layout->addWidget(rich);
        rich->setTabChangesFocus(true);
        apply_enter_to_next(a);
        apply_enter_to_next(b);
        apply_enter_to_next(rich, true);
        show_active(&window);
        a->setFocus();
    }
};

CharFilter filter_named(const QString& name) {
    if (name == "digits_only") return digits_only;
    if (name == "phone_chars") return phone_chars;
    if (name == "name_chars") return name_chars;
    return no_apostrophe;
}

class TestKeyFilters : public QObject {
    Q_OBJECT

private slots:
    void codes_data();
    void codes();
    void typing_data();
    void typing();
    void refused_key_over_a_selection_removes_the_selection();
    void escape_is_followed_by_a_backspace();
    void shortcuts_and_navigation_are_not_typed_characters();
    void enter_moves_on_and_wraps();
};

void TestKeyFilters::codes_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("accepted");
    QTest::addColumn<QString>("refused");
    QTest::newRow("digits") << "digits_only"
                            << "0123456789\b\r"
                            << "a -./\\'\x1b";
    QTest::newRow("phone") << "phone_chars"
                           << "0189-/\\\b\r"
                           << ". a+()'";
    QTest::newRow("name") << "name_chars"
                          << "azAZ ./\b\r"
                          << "09'-,\x1b\t" + QString(QChar(0xe9));
    QTest::newRow("address") << "no_apostrophe"
                             << "aZ09 ,.-/#\"\b\r"
                             << "'";
}

void TestKeyFilters::codes() {
    QFETCH(QString, filter);
    QFETCH(QString, accepted);
    QFETCH(QString, refused);
    const CharFilter f = filter_named(filter);
    for (QChar c : accepted)
        QVERIFY2(f(c.unicode()), qPrintable(QString("refused %1").arg(c.unicode())));
    for (QChar c : refused)
        QVERIFY2(!f(c.unicode()), qPrintable(QString("accepted %1").arg(c.unicode())));
}

void TestKeyFilters::typing_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");
    QTest::newRow("number box") << "digits_only"
                                << "12a3"
                                << "123";
    QTest::newRow("phone keeps hyphen, loses full stop") << "phone_chars"
                                                         << "98-76.5"
                                                         << "98-765";
    QTest::newRow("name loses digits") << "name_chars"
                                       << "Ra7vi K."
                                       << "Ravi K.";
    QTest::newRow("name loses apostrophe and hyphen") << "name_chars"
                                                      << "O'Ne-il"
                                                      << "ONeil";
    QTest::newRow("address loses only apostrophes") << "no_apostrophe"
                                                    << "St. John's Rd, #4"
                                                    << "St. Johns Rd, #4";
}

void TestKeyFilters::typing() {
    QFETCH(QString, filter);
    QFETCH(QString, keys);
    QFETCH(QString, text);
    Form form;
    apply_char_filter(form.a, filter_named(filter));
    for (QChar c : keys) {
        QTest::keyClicks(form.a, QString(c));
        settle(); // the Backspace is posted: it runs after the key
    }
    QCOMPARE(form.a->text(), text);
}

void TestKeyFilters::refused_key_over_a_selection_removes_the_selection() {
    Form form;
    apply_char_filter(form.a, name_chars);
    form.a->setText("Ravi Kumar");
    form.a->setSelection(4, 6); // " Kumar"
    QTest::keyClicks(form.a, "9");
    settle();
    QCOMPARE(form.a->text(), QString("Ravi"));
}

void TestKeyFilters::escape_is_followed_by_a_backspace() {
    Form form;
    apply_char_filter(form.a, digits_only);
    QTest::keyClicks(form.a, "125");
    QTest::keyClick(form.a, Qt::Key_Escape);
    settle();
    QCOMPARE(form.a->text(), QString("12"));
}

void TestKeyFilters::shortcuts_and_navigation_are_not_typed_characters() {
    Form form;
    apply_char_filter(form.a, digits_only);
    form.a->setText("123");
    QTest::keyClick(form.a, Qt::Key_Left);
    QTest::keyClick(form.a, Qt::Key_A, Qt::ControlModifier); // select all, nothing typed
    settle();
    QCOMPARE(form.a->text(), QString("123"));
    QCOMPARE(form.a->selectedText(), QString("123"));
}

void TestKeyFilters::enter_moves_on_and_wraps() {
    Form form;
    QTest::keyClick(form.a, Qt::Key_Return);
    settle();
    QCOMPARE(QApplication::focusWidget(), form.b);
    QTest::keyClick(form.b, Qt::Key_Enter);
    settle();
    QCOMPARE(QApplication::focusWidget(), form.rich);
    form.rich->setPlainText("line");
    QTest::keyClick(form.rich, Qt::Key_Return);
    settle();
    QCOMPARE(QApplication::focusWidget(), form.a);       // from the last back to the first
    QCOMPARE(form.rich->toPlainText(), QString("line")); // no line break
}

TAVORA_TEST_MAIN(TestKeyFilters)
#include "test_key_filters.moc"
