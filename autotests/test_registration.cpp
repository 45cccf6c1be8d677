#include "test_support.h"

#include "app_state.h"
#include "core_tables.h"
#include "dates.h"
#include "main_menu.h"
#include "registration_screen.h"
#include "screen_registry.h"
#include "start.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTextEdit>

class TestRegistration : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<MessageRecorder> messages_;
    QPointer<RegistrationScreen> screen_;

    QLineEdit* line(const char* name) { return screen_->findChild<QLineEdit*>(name); }
    QWidget* box(const char* name) { return screen_->findChild<QWidget*>(name); }
    QPushButton* button(const char* name) { return screen_->findChild<QPushButton*>(name); }
    QString text(const char* name) {
        QWidget* w = box(name);
        if (auto* l = qobject_cast<QLineEdit*>(w)) return l->text();
        return qobject_cast<QTextEdit*>(w)->toPlainText();
    }
    void open_screen() {
        screen_ = qobject_cast<RegistrationScreen*>(screens::open(kRegistrationScreen));
        QVERIFY(screen_);
        show_active(screen_);
    }
    // Show, type the number, press Enter: the look-up runs as the focus leaves.
    void look_up(const QString& number) {
        screen_->show_mode();
        QTest::keyClicks(line("Text1"), number);
        QTest::keyClick(line("Text1"), Qt::Key_Return);
        settle();
    }
    void store(int id, const QString& name, const QString& age = "30") {
        Patient p = minimal_patient(id, name, age, "F");
        QVERIFY(add_patient(kStaff, p).ok());
    }

private slots:
    void initTestCase() { install_screens(); }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        messages_ = std::make_unique<MessageRecorder>();
        set_today_for_tests(QDate(2026, 12, 9)); // never the machine's midnight
        open_screen();
    }
    void cleanup() {
        close_screens();
        messages_.reset();
        folder_.reset();
        set_today_for_tests({});
    }

    void opens_in_new_mode_with_the_next_number();
    void keyboard_only_save_and_look_up();
    void length_rules_data();
    void length_rules();
    void age_rule_data();
    void age_rule();
    void key_filters_in_their_boxes_data();
    void key_filters_in_their_boxes();
    void name_and_address_are_trimmed_when_left();
    void save_needs_number_and_name();
    void number_taken_by_another_workstation();
    void save_after_a_look_up_is_a_duplicate();
    void modify_stores_changes_and_today();
    void modify_never_blanks_a_name_the_look_up_emptied();
    void look_up_of_nothing_returns_to_new_mode_data();
    void look_up_of_nothing_returns_to_new_mode();
    void a_clicked_button_acts_after_the_look_up_message_data();
    void a_clicked_button_acts_after_the_look_up_message();
    void clear_empties_the_date_and_save_still_dates_today();
    void show_all_lists_every_patient_and_holds_no_lock();
    void exit_reloads_the_menu();
    void closing_the_window_hands_back_to_the_menu();
    void unreadable_database_is_reported_and_the_screen_stays();
};

void TestRegistration::opens_in_new_mode_with_the_next_number() {
    QCOMPARE(screen_->windowTitle(), QString("Registration"));
    QCOMPARE(text("Text1"), QString("1"));
    QVERIFY(!line("Text1")->isEnabled());
    QVERIFY(!line("Text11")->isEnabled());
    QCOMPARE(text("Text11"), display_date(QDate(2026, 12, 9)));
    QVERIFY(button("cmdAdd")->isEnabled());
    QVERIFY(!button("cmdModify")->isEnabled());
    QVERIFY(!screen_->findChild<QWidget*>("Frame3")->isVisible());
    line("text2")->setText("Asha");
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"New patient added"});
    QCOMPARE(messages_->shown[0].title, QString("tavora lab"));
    QCOMPARE(text("Text1"), QString("2"));
    QCOMPARE(text("text2"), QString());
    QCOMPARE(find_patient(1).value->patient_name, QString("Asha"));
}

void TestRegistration::keyboard_only_save_and_look_up() {
    QCOMPARE(QApplication::focusWidget(), box("text2"));
    QTest::keyClicks(box("text2"), "Asha Rao");
    QTest::keyClick(box("text2"), Qt::Key_Return);
    settle();
    QTest::keyClicks(QApplication::focusWidget(), "34");
    // Through every box (the date box is skipped) to Save.
    for (int i = 0; i < 9; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        settle();
    }
    QCOMPARE(QApplication::focusWidget(), button("cmdAdd"));
    QTest::keyClick(button("cmdAdd"), Qt::Key_Space);
    QCOMPARE(messages_->texts(), QStringList{"New patient added"});
    QCOMPARE(find_patient(1).value->patient_name, QString("Asha Rao"));
    QCOMPARE(find_patient(1).value->age, QString("34"));

    messages_->clear();
    look_up("1");
    QVERIFY(messages_->shown.isEmpty());
    QCOMPARE(text("text2"), QString("Asha Rao"));
    QCOMPARE(text("Text3"), QString("34"));
    QCOMPARE(text("Text11"), display_date(QDate(2026, 12, 9)));
    QVERIFY(button("cmdModify")->isEnabled());
    QVERIFY(line("Text1")->isEnabled());
    QCOMPARE(QApplication::focusWidget(), box("text2"));
}

void TestRegistration::length_rules_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("unit"); // a character the box's filter accepts
    QTest::newRow("number") << "Text1" << 245 << "Data is too long."
                            << "7";
    QTest::newRow("name") << "text2" << 45 << "The name is too big to enter."
                          << "a";
    QTest::newRow("sex") << "Text4" << 6 << "The data is too big to enter."
                         << "x";
    QTest::newRow("phone") << "Text5" << 24 << "The number is too big to enter."
                           << "1";
    QTest::newRow("mobile") << "Text6" << 24 << "Data is too long."
                            << "9";
    QTest::newRow("occupation") << "Text7" << 45 << "The name is too long."
                                << "a";
    QTest::newRow("next of kin") << "Text8" << 45 << "The data is too big to enter."
                                 << "b";
    QTest::newRow("address") << "text9" << 245 << "The address is too big to enter."
                             << "c";
    QTest::newRow("e-mail") << "Text10" << 24 << "data is too long."
                            << "d";
}

void TestRegistration::length_rules() {
    QFETCH(QString, name);
    QFETCH(int, limit);
    QFETCH(QString, message);
    QFETCH(QString, unit);
    if (name == "Text1") screen_->show_mode(); // the number box is editable in look-up mode
    messages_->clear();
    QWidget* w = box(qPrintable(name));
    auto* rich = qobject_cast<QTextEdit*>(w);
    auto* edit = qobject_cast<QLineEdit*>(w);
    w->setFocus();

    // Typed: up to the limit is fine, one more empties the whole box.
    if (edit)
        edit->setText(unit.repeated(limit - 1));
    else
        rich->setPlainText(unit.repeated(limit - 1));
    QTest::keyClicks(w, unit);
    settle();
    QVERIFY(messages_->shown.isEmpty());
    QCOMPARE(text(qPrintable(name)).size(), limit);
    QTest::keyClicks(w, unit);
    settle();
    QCOMPARE(messages_->texts(), QStringList{message});
    QCOMPARE(messages_->shown[0].title, QString("Information"));
    QVERIFY(messages_->shown[0].buttons == MessageButtons::Ok);
    QCOMPARE(text(qPrintable(name)), QString());

    // Pasted: one message, empty box.
    messages_->clear();
    if (edit)
        edit->insert(unit.repeated(limit + 5));
    else
        rich->insertPlainText(unit.repeated(limit + 5));
    QCOMPARE(messages_->texts(), QStringList{message});
    QCOMPARE(text(qPrintable(name)), QString());
}

void TestRegistration::age_rule_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("left");
    QTest::newRow("150") << "150" << true << ""
                         << "150";
    QTest::newRow("151") << "151" << true << "Invalid age."
                         << "0";
    QTest::newRow("minus alone") << "-" << true << ""
                                 << "-";
    QTest::newRow("minus one") << "-1" << true << "Invalid age."
                               << "0";
    QTest::newRow("letters") << "abc" << true << ""
                             << "abc";
    QTest::newRow("eight characters") << "12 years" << false << ""
                                      << "12 years";
    QTest::newRow("nine characters in range") << "100.00000" << true << "It is too big to enter."
                                              << "";
    QTest::newRow("nine digits above 150") << "123456789" << false << "Invalid age."
                                           << "0";
}

void TestRegistration::age_rule() {
    QFETCH(QString, input);
    QFETCH(bool, typed);
    QFETCH(QString, message);
    QFETCH(QString, left);
    QLineEdit* age = line("Text3");
    age->setFocus();
    if (typed)
        QTest::keyClicks(age, input);
    else
        age->insert(input);
    settle();
    QCOMPARE(messages_->texts(), message.isEmpty() ? QStringList{} : QStringList{message});
    if (!message.isEmpty()) QCOMPARE(messages_->shown[0].title, QString("Information"));
    QCOMPARE(age->text(), left);
}

void TestRegistration::key_filters_in_their_boxes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("left");
    QTest::newRow("number") << "Text1"
                            << "12a3"
                            << "123";
    QTest::newRow("name") << "text2"
                          << "Ra1vi"
                          << "Ravi";
    QTest::newRow("phone") << "Text5"
                           << "98.7-6"
                           << "987-6";
    QTest::newRow("next of kin") << "Text8"
                                 << "M'ary"
                                 << "Mary";
    QTest::newRow("address") << "text9"
                             << "St John's"
                             << "St Johns";
    QTest::newRow("mobile takes anything") << "Text6"
                                           << "+91 (98)"
                                           << "+91 (98)";
}

void TestRegistration::key_filters_in_their_boxes() {
    QFETCH(QString, name);
    QFETCH(QString, keys);
    QFETCH(QString, left);
    if (name == "Text1") screen_->show_mode();
    QWidget* w = box(qPrintable(name));
    w->setFocus();
    for (QChar c : keys) {
        QTest::keyClicks(w, QString(c));
        settle();
    }
    QCOMPARE(text(qPrintable(name)), left);
}

void TestRegistration::name_and_address_are_trimmed_when_left() {
    line("text2")->setFocus();
    line("text2")->setText("  Ravi Kumar  ");
    qobject_cast<QTextEdit*>(box("text9"))->setPlainText("  12 Hill Rd  ");
    line("Text4")->setText("  M  ");
    box("Text3")->setFocus(); // leaves the name box
    box("text9")->setFocus();
    box("Text4")->setFocus(); // leaves the address box
    box("Text5")->setFocus();
    QCOMPARE(text("text2"), QString("Ravi Kumar"));
    QCOMPARE(text("text9"), QString("12 Hill Rd"));
    QCOMPARE(text("Text4"), QString("  M  "));
}

void TestRegistration::save_needs_number_and_name() {
    line("text2")->setText("   ");
    line("Text3")->setText("40");
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"Important data not given"});
    QCOMPARE(next_patient_id().value, 1);
    QCOMPARE(text("Text3"), QString("40"));
}

void TestRegistration::number_taken_by_another_workstation() {
    QCOMPARE(text("Text1"), QString("1"));
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("insert into registration (patient_id, patient_name) values (1, 'Elsewhere')"));
    line("text2")->setText("Meena");
    line("Text3")->setText("51");
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"ID already exists. Click 'Modify' to update"});
    QCOMPARE(text("text2"), QString("Meena"));
    QCOMPARE(text("Text3"), QString("51"));
    QCOMPARE(find_patient(1).value->patient_name, QString("Elsewhere"));
    // The next free number is offered, and Save stores what was typed under it.
    QCOMPARE(text("Text1"), QString("2"));
    messages_->clear();
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"New patient added"});
    QCOMPARE(find_patient(2).value->patient_name, QString("Meena"));
}

void TestRegistration::save_after_a_look_up_is_a_duplicate() {
    store(3, "Gita");
    look_up("3");
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"ID already exists. Click 'Modify' to update"});
    QCOMPARE(text("text2"), QString("Gita"));
    QCOMPARE(text("Text1"), QString("3"));
}

void TestRegistration::modify_stores_changes_and_today() {
    store(5, "O'Brien Sean");
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("update registration set reg_date = '2020-01-01'"));
    look_up("005");
    QCOMPARE(text("Text1"), QString("005"));
    QCOMPARE(text("Text11"), display_date(QDate(2020, 1, 1)));
    QVERIFY(button("cmdModify")->isEnabled());
    line("Text3")->setText("61");
    line("Text10")->setText("sean@example.org");
    QTest::mouseClick(button("cmdModify"), Qt::LeftButton);
    QCOMPARE(messages_->texts(), QStringList{"Information has been modified"});
    const Patient p = *find_patient(5).value;
    QCOMPARE(p.age, QString("61"));
    QCOMPARE(p.emailid, QString("sean@example.org"));
    QCOMPARE(p.patient_name, QString("O'Brien Sean"));
    QCOMPARE(p.reg_date, today_iso());
    QVERIFY(!button("cmdModify")->isEnabled()); // back to new mode
    QVERIFY(!line("Text1")->isEnabled());
    QCOMPARE(text("Text1"), QString("6"));
}

void TestRegistration::modify_never_blanks_a_name_the_look_up_emptied() {
    const QString long_name = QString("Name written by a test screen ").repeated(2); // 60 characters
    store(8, long_name);
    look_up("8");
    QCOMPARE(messages_->texts(), QStringList{"The name is too big to enter."});
    QCOMPARE(text("text2"), QString());
    messages_->clear();
    screen_->modify();
    QCOMPARE(messages_->texts(), QStringList{"Important data not given"});
    QCOMPARE(find_patient(8).value->patient_name, long_name);
}

void TestRegistration::look_up_of_nothing_returns_to_new_mode_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << ""
                           << "No ID given";
    QTest::newRow("not registered") << "99"
                                    << "Patient ID does not exist";
}

void TestRegistration::look_up_of_nothing_returns_to_new_mode() {
    QFETCH(QString, number);
    QFETCH(QString, message);
    store(1, "Only");
    look_up(number);
    QCOMPARE(messages_->texts(), QStringList{message});
    QVERIFY(!line("Text1")->isEnabled());
    QCOMPARE(text("Text1"), QString("2"));
    QVERIFY(!button("cmdModify")->isEnabled());
    QVERIFY(button("cmdAdd")->isEnabled());
}

void TestRegistration::a_clicked_button_acts_after_the_look_up_message_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("button");
    // A real message box takes the mouse's release; the recorder does not.
    QTest::addColumn<bool>("release_lost");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("Show all after no number") << ""
                                              << "Command3" << true << QStringList{"No ID given"};
    QTest::newRow("Exit after an unknown number")
        << "99"
        << "cmdClose" << true << QStringList{"Patient ID does not exist"};
    for (bool lost : {true, false})
        QTest::newRow(lost ? "Save, release lost" : "Save, release kept")
            << "99"
            << "cmdAdd" << lost << QStringList{"Patient ID does not exist", "Important data not given"};
}

void TestRegistration::a_clicked_button_acts_after_the_look_up_message() {
    QFETCH(QString, number);
    QFETCH(QString, button);
    QFETCH(bool, release_lost);
    QFETCH(QStringList, messages);
    store(1, "Only");
    screen_->show_mode();
    QTest::keyClicks(line("Text1"), number);
    QPushButton* clicked = this->button(qPrintable(button));
    if (release_lost)
        QTest::mousePress(clicked, Qt::LeftButton);
    else
        QTest::mouseClick(clicked, Qt::LeftButton);
    settle();
    QCOMPARE(messages_->texts(), messages); // each action ran once
    if (button == "cmdClose") {
        QTRY_VERIFY(!screen_ || !screen_->isVisible());
        return;
    }
    QVERIFY(!clicked->isDown());
    if (button == "Command3") QVERIFY(screen_->findChild<QWidget*>("Frame3")->isVisible());
}

void TestRegistration::clear_empties_the_date_and_save_still_dates_today() {
    QVERIFY(!text("Text11").isEmpty());
    line("text2")->setText("Zoe");
    QTest::mouseClick(button("cmdClear"), Qt::LeftButton);
    QCOMPARE(text("Text11"), QString());
    QCOMPARE(text("text2"), QString());
    line("text2")->setText("Zoe");
    screen_->save();
    QCOMPARE(find_patient(1).value->reg_date, today_iso());
}

void TestRegistration::show_all_lists_every_patient_and_holds_no_lock() {
    for (int id : {3, 1, 2})
        store(id, QString("P%1").arg(id));
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    QWidget* panel = screen_->findChild<QWidget*>("Frame3");
    QVERIFY(panel->isVisible());
    auto* grid = screen_->findChild<QTableView*>("DataGrid1");
    QCOMPARE(grid->model()->rowCount(), 3);
    QCOMPARE(grid->model()->columnCount(), 12);
    QCOMPARE(grid->model()->headerData(1, Qt::Horizontal).toString(), QString("patient_name"));
    QCOMPARE(grid->model()->index(0, 1).data().toString(), QString("P1"));
    QCOMPARE(grid->model()->index(2, 0).data().toString(), QString("3"));
    const QSqlDatabase other = folder_->other_workstation();
    const DbError taken = take_write_lock_at_once(other);
    QVERIFY2(taken.ok(), qPrintable(taken.description));
    QSqlQuery(other).exec("ROLLBACK");
    QTest::mouseClick(panel->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QVERIFY(!panel->isVisible());
}

void TestRegistration::exit_reloads_the_menu() {
    QTest::mouseClick(button("cmdClose"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!screen_);
    auto* menu = qobject_cast<MainMenu*>(screens::find(kMainMenu));
    QVERIFY(menu && menu->isVisible());
    QCOMPARE(menu->menu_click(), QPoint(0, 0));
    QVERIFY(!menu->choosing());
}

void TestRegistration::closing_the_window_hands_back_to_the_menu() {
    screen_->close(); // the window's own close button, not Exit
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!screen_);
    QWidget* menu = screens::find(kMainMenu);
    QVERIFY(menu && menu->isVisible());
    // Ending the program closes everything and brings nothing back.
    open_screen();
    screens::end_program();
    QVERIFY(!screens::find(kMainMenu) || !screens::find(kMainMenu)->isVisible());
}

void TestRegistration::unreadable_database_is_reported_and_the_screen_stays() {
    close_screens();
    folder_ = std::make_unique<ProgramFolder>(false);
    messages_->clear();
    open_screen();
    QCOMPARE(messages_->shown.size(), 1);
    QVERIFY(messages_->shown[0].text.contains("tavora lab.mdb"));
    QVERIFY(screen_->isVisible());
    messages_->clear();
    screen_->show_mode(); // Show reads the next number: one message
    QCOMPARE(messages_->shown.size(), 1);
    messages_->clear();
    QTest::keyClicks(line("Text1"), "4");
    QTest::keyClick(line("Text1"), Qt::Key_Return);
    settle();
    QCOMPARE(messages_->shown.size(), 1); // the look-up: one message
    QVERIFY(!button("cmdModify")->isEnabled());
    QVERIFY(messages_->shown[0].text.contains("tavora lab.mdb"));
    messages_->clear();
    screen_->show_all();
    QCOMPARE(messages_->shown.size(), 1);
    QVERIFY(screen_->isVisible());
}

TAVORA_TEST_MAIN(TestRegistration)
#include "test_registration.moc"
