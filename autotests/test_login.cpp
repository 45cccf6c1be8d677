#include "test_support.h"

#include "accounts.h"
#include "app_state.h"
#include "connection.h"
#include "core_tables.h"
#include "journal.h"
#include "lab_reports.h"
#include "login.h"
#include "main_menu.h"
#include "password_dialog.h"
#include "screen_registry.h"
#include "start.h"
#include "users_window.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTableWidget>

namespace {

const QPointF kInsideOk{5000, 7900};

} // namespace

class TestLogin : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    QPointer<LoginScreen> login_;

    QLineEdit* box(const char* name) { return login_->findChild<QLineEdit*>(name); }

    void type(const QString& user, const QString& password) {
        box("Text1")->setFocus();
        box("Text1")->clear();
        QTest::keyClicks(box("Text1"), user);
        box("text2")->setFocus();
        QTest::keyClicks(box("text2"), password);
        settle();
    }

    bool menu_open() const { return screens::find(kMainMenu) && screens::find(kMainMenu)->isVisible(); }

private slots:
    void initTestCase() { install_screens(); }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        app_state() = AppState{};
        login_ = qobject_cast<LoginScreen*>(screens::open(kLoginScreen));
        QVERIFY(login_);
        show_active(login_);
    }
    void cleanup() {
        screens::end_program();
        settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        folder_.reset();
    }

    void starts_with_one_blank_and_no_database();
    void accepted_pairs_open_the_menu_data();
    void accepted_pairs_open_the_menu();
    void wrong_pairs_are_refused_data();
    void wrong_pairs_are_refused();
    void first_press_before_typing_is_refused();
    void press_beside_ok_does_nothing();
    void bounds_of_ok_and_cancel();
    void cancel_ends_the_program_even_with_a_right_pair();
    void password_box_shows_stars_and_keeps_what_was_typed();
    void enter_never_logs_in_and_wraps_between_the_boxes();
    void a_real_click_is_converted_to_twips();
    void the_keyboard_and_a_screen_reader_reach_ok_and_cancel();
    void escape_is_cancel();
    void each_role_may_do_what_its_row_says();
    void named_accounts_disabled_ones_and_the_wait_after_five_failures();
    void a_given_password_is_changed_at_the_first_login();
    void an_administrator_manages_users();
    void the_wait_holds_on_every_workstation_and_after_a_restart();
    void a_busy_database_never_lets_a_built_in_pair_in();
    void a_session_without_the_database_meets_the_users_table_later();
};

void TestLogin::starts_with_one_blank_and_no_database() {
    QCOMPARE(box("Text1")->text(), QString(" "));
    QCOMPARE(box("text2")->text(), QString(" "));
    QVERIFY(login_->typed_password().isEmpty());
    QCOMPARE(login_->windowTitle(), QString("Tavora Lab."));
    QVERIFY(!connection_is_open());
}

void TestLogin::accepted_pairs_open_the_menu_data() {
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("orbax") << "  Orbax "
                           << "PELUN";
    QTest::newRow("tamor") << "tamor"
                           << "Vidrel  ";
    QTest::newRow("quenta") << " QUENTA"
                            << "vidrel";
    QTest::newRow("vidrel") << "Vidrel"
                            << " pelun";
}

void TestLogin::accepted_pairs_open_the_menu() {
    QFETCH(QString, user);
    QFETCH(QString, password);
    MessageRecorder messages;
    type(user, password);
    login_->press_at(kInsideOk);
    settle();
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(!login_ || !login_->isVisible());
    QVERIFY(menu_open());
    QVERIFY(connection_is_open()); // the menu's load opened it
    QCOMPARE(app_state().login_password, password);
}

void TestLogin::wrong_pairs_are_refused_data() {
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("swapped") << "pelun"
                             << "orbax";
    QTest::newRow("other's password") << "orbax"
                                      << "vidrel";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("inner blank") << "or bax"
                                 << "pelun";
    QTest::newRow("injection") << "' or 1=1 --"
                               << "x";
}

void TestLogin::wrong_pairs_are_refused() {
    QFETCH(QString, user);
    QFETCH(QString, password);
    MessageRecorder messages;
    type(user, password);
    login_->press_at(kInsideOk);
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown[0].text, QString("Wrong user name or password"));
    QCOMPARE(messages.shown[0].title, QString("tavora lab"));
    QVERIFY(messages.shown[0].buttons == MessageButtons::Ok);
    QVERIFY(box("Text1")->text().isEmpty());
    QVERIFY(box("text2")->text().isEmpty());
    QCOMPARE(login_->focusWidget(), box("Text1")); // both typed again, from the user name
    QVERIFY(login_->typed_password().isEmpty());
    QCOMPARE(app_state().login_password, password); // kept until the next press
    QVERIFY(!menu_open());
}

void TestLogin::first_press_before_typing_is_refused() {
    MessageRecorder messages;
    login_->press_at({100, 100});
    QCOMPARE(messages.texts(), QStringList{"Wrong user name or password"});
}

void TestLogin::press_beside_ok_does_nothing() {
    MessageRecorder messages;
    type("orbax", "pelun");
    login_->press_at({4300, 7900}); // on the left bound: outside
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(login_->isVisible());
    QVERIFY(!menu_open());
    login_->press_at({4301, 7900});
    settle();
    QVERIFY(menu_open());
}

void TestLogin::bounds_of_ok_and_cancel() {
    MessageRecorder messages;
    type("orbax", "pelun");
    login_->press_at({7000, 8150}); // below Cancel's bottom bound, right of O.K.
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(login_->isVisible());

    type("orbax", "wrong");
    login_->press_at({7000, 8150});
    QCOMPARE(messages.texts(), QStringList{"Wrong user name or password"});
    QVERIFY(login_->isVisible());

    type("orbax", "pelun");
    login_->press_at({5000, 8150}); // inside O.K. (its bottom bound is 8200)
    settle();
    QVERIFY(menu_open());
}

void TestLogin::cancel_ends_the_program_even_with_a_right_pair() {
    MessageRecorder messages;
    app_state().login_password = "before";
    type("orbax", "pelun");
    login_->press_at({7000, 7800});
    settle();
    QVERIFY(!login_ || !login_->isVisible());
    QVERIFY(!menu_open());
    QVERIFY(messages.shown.isEmpty());
    QCOMPARE(app_state().login_password, QString("before")); // Cancel comes before the copy
}

void TestLogin::password_box_shows_stars_and_keeps_what_was_typed() {
    QLineEdit* pw = box("text2");
    pw->setFocus();
    pw->clear();
    QTest::keyClicks(pw, "Pelux");
    QCOMPARE(pw->text(), QString("*****"));
    QTest::keyClick(pw, Qt::Key_Backspace);
    QTest::keyClicks(pw, "n");
    QCOMPARE(login_->typed_password(), QString("Pelun"));
    QCOMPARE(pw->text(), QString("*****"));
    // Delete changes the box but not what was typed; the check uses what was typed.
    pw->setCursorPosition(0);
    QTest::keyClick(pw, Qt::Key_Delete);
    QCOMPARE(pw->text(), QString("****"));
    QCOMPARE(login_->typed_password(), QString("Pelun"));
    // Backspace in an empty password reaches the box all the same.
    QTest::keyClick(pw, Qt::Key_End);
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(pw, Qt::Key_Backspace);
    QVERIFY(login_->typed_password().isEmpty());
    QVERIFY(pw->text().isEmpty());
    // Pasting never shows the clipboard in the box.
    QApplication::clipboard()->setText("secret");
    QTest::keyClick(pw, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(pw->text(), QString());
    QVERIFY(login_->typed_password().isEmpty());
}

void TestLogin::enter_never_logs_in_and_wraps_between_the_boxes() {
    MessageRecorder messages;
    type("orbax", "pelun");
    QTest::keyClick(box("text2"), Qt::Key_Return);
    settle();
    QCOMPARE(QApplication::focusWidget(), box("Text1"));
    QCOMPARE(login_->typed_password(), QString("pelun"));
    QCOMPARE(box("text2")->text(), QString(" *****"));
    QTest::keyClick(box("Text1"), Qt::Key_Return);
    settle();
    QCOMPARE(QApplication::focusWidget(), box("text2"));
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(!menu_open());
}

void TestLogin::a_real_click_is_converted_to_twips() {
    MessageRecorder messages;
    type("tamor", "vidrel");
    QWidget* picture = login_->findChild<QWidget*>("Image1");
    QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(330, 530)); // (4950, 7950) twips
    settle();
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(menu_open());
}

void TestLogin::the_keyboard_and_a_screen_reader_reach_ok_and_cancel() {
    MessageRecorder messages;
    auto* ok = login_->findChild<QAbstractButton*>("ok");
    auto* cancel = login_->findChild<QAbstractButton*>("cancel");
    QVERIFY(ok && cancel);
    // Every control is named as its label reads; Tab walks them in reading order.
    QCOMPARE(box("Text1")->accessibleName(), QString("Username"));
    QCOMPARE(box("text2")->accessibleName(), QString("Password"));
    QCOMPARE(ok->accessibleName(), QString("O.K."));
    QCOMPARE(cancel->accessibleName(), QString("Cancel"));
    // As a screen reader finds them.
    const QStringList tree = accessible_tree(login_);
    qInfo().noquote() << "the login to a screen reader:\n" + tree.join('\n');
    for (const char* line : {"text box: Username", "text box: Password", "button: O.K.", "button: Cancel"})
        QVERIFY2(tree.contains(QRegularExpression("^ *" + QRegularExpression::escape(line) + "$")), line);
    type("orbax", "wrong");
    QTest::keyClick(box("text2"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ok);
    QTest::keyClick(ok, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), cancel);
    // Enter on O.K. is a press on it: a wrong pair is refused as by the mouse.
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Return);
    QCOMPARE(messages.texts(), QStringList{"Wrong user name or password"});
    QVERIFY(!menu_open());
    // Alt+O from anywhere presses O.K.
    type("orbax", "pelun");
    QTest::keyClick(box("text2"), Qt::Key_O, Qt::AltModifier);
    settle();
    QVERIFY(menu_open());
}

void TestLogin::escape_is_cancel() {
    MessageRecorder messages;
    type("orbax", "pelun");
    QTest::keyClick(box("text2"), Qt::Key_Escape);
    settle();
    QVERIFY(!login_ || !login_->isVisible());
    QVERIFY(!menu_open());
    QVERIFY(messages.shown.isEmpty());
}

void TestLogin::each_role_may_do_what_its_row_says() {
    using R = Right;
    const R all[] = {R::Register,      R::Find,   R::Print,           R::EnterResults,
                     R::ModifyResults, R::Verify, R::DeleteTemporary, R::ManageUsers};
    // Role by role, the rights in the order above: 1 may, 0 may not.
    const struct {
        Role role;
        const char* rights;
    } table[] = {{Role::Reception, "11100000"},
                 {Role::Technician, "11111000"},
                 {Role::SeniorTechnician, "11111010"}, // the built-in logins with the privileged password
                 {Role::Pathologist, "11111100"},
                 {Role::Administrator, "11111111"}};
    for (const auto& row : table) {
        QCOMPARE(role_named(role_name(row.role).toUpper() + " "), std::optional<Role>(row.role));
        for (int i = 0; i < 8; ++i)
            QVERIFY2(may(row.role, all[i]) == (row.rights[i] == '1'),
                     qPrintable(QString("%1, right %2").arg(role_name(row.role)).arg(i)));
    }
    // Without an account (the file could not be read), the built-in logins'
    // rights: everything but the new steps, deletion by the privileged password.
    app_state().account.reset();
    app_state().login_password = " PELUN ";
    QVERIFY(logged_in_may(R::DeleteTemporary) && logged_in_may(R::EnterResults));
    QVERIFY(!logged_in_may(R::Verify) && !logged_in_may(R::ManageUsers));
    app_state().login_password = "vidrel";
    QVERIFY(!logged_in_may(R::DeleteTemporary));
    // The built-in logins are seeded with exactly those rights, and compared as they always were.
    forget_failed_logins();
    QCOMPARE(check_login(database().value, " ORBAX", " PELUN ").account->role, Role::SeniorTechnician);
    QCOMPARE(check_login(database().value, "vidrel", "Pelun").account->role, Role::SeniorTechnician);
    QCOMPARE(check_login(database().value, "tamor", "VIDREL").account->role, Role::Technician);
    QCOMPARE(check_login(database().value, "quenta", "vidrel").account->role, Role::Technician);
    QCOMPARE(check_login(database().value, "quenta", "pelun").outcome, LoginCheck::Outcome::Refused);
}

void TestLogin::named_accounts_disabled_ones_and_the_wait_after_five_failures() {
    MessageRecorder messages;
    qint64 now = 0;
    set_login_clock_for_tests([&now] { return now; });
    forget_failed_logins();
    Account meera;
    meera.login = "meera";
    meera.full_name = "Dr. Meera Rao";
    meera.role = Role::Pathologist;
    QVERIFY(add_user(database().value, kStaff, meera, "Slide-42 stain").ok());
    // Five wrong passwords for one name: the sixth try waits, and says so.
    for (int i = 0; i < 5; ++i) {
        type("meera", "wrong one");
        login_->press_at({5000, 8000});
    }
    QCOMPARE(messages.texts(), QStringList(5, "Wrong user name or password"));
    messages.clear();
    type("meera", "Slide-42 stain");
    login_->press_at({5000, 8000});
    QCOMPARE(messages.texts(),
             QStringList{"Too many failed logins for this name: wait 30 seconds, then try again."});
    QVERIFY(!menu_open());
    // Another name is not held up meanwhile; after the 30 seconds the right password lets her in.
    now += 30'000;
    messages.clear();
    type("Meera", "Slide-42 stain");
    login_->press_at({5000, 8000});
    settle();
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(menu_open());
    QCOMPARE(app_state().account->login, QString("meera"));
    QCOMPARE(app_state().account->role, Role::Pathologist);
    QCOMPARE(journal_user_name(), QString("meera"));
    QCOMPARE(number_of("select count(*) from users where login = 'meera' and last_login_at <> ''"), 1);
    // Disabled, she is refused as any wrong pair is.
    QVERIFY(disable_user(database().value, kStaff, "meera").ok());
    screens::end_program();
    settle();
    login_ = qobject_cast<LoginScreen*>(screens::open(kLoginScreen));
    show_active(login_);
    type("meera", "Slide-42 stain");
    login_->press_at({5000, 8000});
    QCOMPARE(messages.texts(), QStringList{"Wrong user name or password"});
    QVERIFY(!menu_open());
    set_login_clock_for_tests(nullptr);
}

void TestLogin::a_given_password_is_changed_at_the_first_login() {
    MessageRecorder messages;
    forget_failed_logins();
    Account usha{"usha", "Usha Nair", "", Role::Reception};
    usha.must_change = true;
    QVERIFY(add_user(database().value, kStaff, usha, "given-by-admin").ok());
    QStringList asked;
    std::optional<QString> answer; // first: she cancels
    set_new_password_handler([&](const QString& login) {
        asked << login;
        return answer;
    });
    type("usha", "given-by-admin");
    login_->press_at({5000, 8000});
    QCOMPARE(asked, QStringList{"usha"});
    QVERIFY(!menu_open()); // no password of her own, no menu
    answer = "my own one 7";
    type("usha", "given-by-admin");
    login_->press_at({5000, 8000});
    settle();
    QVERIFY(menu_open());
    QVERIFY(!app_state().account->must_change);
    QVERIFY(messages.shown.isEmpty());
    set_new_password_handler(nullptr);
    // From now on only her own password lets her in, and nothing more is asked.
    QCOMPARE(check_login(database().value, "usha", "given-by-admin").outcome, LoginCheck::Outcome::Refused);
    const LoginCheck again = check_login(database().value, "usha", "my own one 7");
    QCOMPARE(again.outcome, LoginCheck::Outcome::Accepted);
    QVERIFY(!again.account->must_change);
}

void TestLogin::an_administrator_manages_users() {
    MessageRecorder messages;
    forget_failed_logins();
    // Only an administrator finds the Users tile and Ctrl+U on the menu.
    for (Role role : {Role::SeniorTechnician, Role::Administrator}) {
        app_state().account = Account{"boss", "", "", role};
        auto* menu = qobject_cast<MainMenu*>(screens::open(kMainMenu));
        show_active(menu);
        QCOMPARE(menu->findChild<QWidget*>("users") != nullptr, role == Role::Administrator);
        QTest::keyClick(menu, Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(screens::find("users") != nullptr, role == Role::Administrator);
        if (role != Role::Administrator) close_screens();
    }
    auto* users = qobject_cast<UsersWindow*>(screens::find("users"));
    QCOMPARE(users->table()->rowCount(), 4); // the built-in logins
    // Added with a password for the first login, which she then changes.
    QVERIFY(!users->add_account({"lata", "Lata Iyer", "DMLT", Role::Technician}, "short"));
    QVERIFY(messages.texts().value(0).contains("at least 8 characters"));
    QVERIFY(users->add_account({"lata", "Lata Iyer", "DMLT", Role::Technician}, "first-login-1"));
    QVERIFY(!users->add_account({"LATA", "x", "", Role::Reception}, "first-login-1"));
    QCOMPARE(messages.texts().last(), QString("LATA exists already."));
    QCOMPARE(users->table()->rowCount(), 5);
    const LoginCheck first = check_login(database().value, "lata", "first-login-1");
    QVERIFY(first.account && first.account->must_change);
    // Reset and disable the chosen row; never one's own account.
    users->table()->selectRow(0); // the rows are in login order: lata first
    QCOMPARE(users->table()->item(0, 0)->text(), QString("lata"));
    QVERIFY(users->reset_selected("second-one-2"));
    QCOMPARE(check_login(database().value, "lata", "first-login-1").outcome, LoginCheck::Outcome::Refused);
    QVERIFY(check_login(database().value, "lata", "second-one-2").account->must_change);
    QVERIFY(users->disable_selected());
    QCOMPARE(users->table()->item(0, 4)->text(), QString("no"));
    QCOMPARE(check_login(database().value, "lata", "second-one-2").outcome, LoginCheck::Outcome::Refused);
    app_state().account = Account{"orbax", "", "", Role::Administrator};
    users->table()->selectRow(1);
    QCOMPARE(users->table()->item(1, 0)->text(), QString("orbax"));
    QVERIFY(!users->disable_selected());
    QCOMPARE(messages.texts().last(), QString("You cannot disable your own account."));
    app_state().account.reset();
}

TAVORA_TEST_MAIN(TestLogin)
#include "test_login.moc"

// Five failures counted on one workstation hold the name on another one and
// in a program started afresh (this one with its own count forgotten); the
// start of the wait is journalled.
void TestLogin::the_wait_holds_on_every_workstation_and_after_a_restart() {
    qint64 now = 1'700'000'000'000;
    set_login_clock_for_tests([&now] { return now; });
    forget_failed_logins();
    QSqlDatabase here = database().value, there = folder_->other_workstation();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(check_login(here, "orbax", "wrong").outcome, LoginCheck::Outcome::Refused);
    for (int i = 0; i < 2; ++i)
        QCOMPARE(check_login(there, " ORBAX ", "wrong").outcome, LoginCheck::Outcome::Refused);
    forget_failed_logins(); // a restart
    for (QSqlDatabase db : {here, there}) {
        const LoginCheck held = check_login(db, "orbax", "pelun");
        QCOMPARE(held.outcome, LoginCheck::Outcome::Waiting);
        QCOMPARE(held.wait_seconds, 30);
    }
    QCOMPARE(number_of("select count(*) from change_log where action = 'login wait' and user_name = 'orbax'"),
             1);
    // Another name is not held; after the wait the right password lets orbax in, and the count starts again.
    QCOMPARE(check_login(there, "tamor", "vidrel").outcome, LoginCheck::Outcome::Accepted);
    now += 30'000;
    QCOMPARE(check_login(there, "orbax", "pelun").outcome, LoginCheck::Outcome::Accepted);
    QCOMPARE(number_of("select count(*) from login_failures"), 0);
    // Names that cannot be logins are refused without a row of their own.
    QCOMPARE(check_login(here, QString(5000, u'x'), "wrong").outcome, LoginCheck::Outcome::Refused);
    QCOMPARE(number_of("select count(*) from login_failures"), 0);
    QCOMPARE(verify_journal(here), QString());
    set_login_clock_for_tests(nullptr);
}

// A disabled built-in login, typed while another workstation holds the file:
// the login waits for the file and then the users table refuses it; the
// built-in pairs never stand in for a database that is only busy.
void TestLogin::a_busy_database_never_lets_a_built_in_pair_in() {
    if (testing_on_server()) QSKIP("a server's readers never wait for a writer");
    MessageRecorder messages;
    forget_failed_logins();
    QVERIFY(disable_user(database().value, kStaff, "orbax").ok());
    close_connection();
    set_busy_timeout_for_tests(300);
    QSqlDatabase other = folder_->other_workstation();
    QVERIFY(take_write_lock_at_once(other).ok());
    type("orbax", "pelun");
    login_->press_at(kInsideOk);
    settle();
    QVERIFY(!menu_open());
    QCOMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts()[0].startsWith("Logging in failed. The database is busy"),
             qPrintable(messages.texts()[0]));
    QSqlQuery(other).exec("ROLLBACK");
    messages.clear();
    type("orbax", "pelun");
    login_->press_at(kInsideOk);
    settle();
    QCOMPARE(messages.texts(), QStringList{"Wrong user name or password"});
    QVERIFY(!menu_open());
    set_busy_timeout_for_tests(0);
}

// The file could not be opened at login, so a built-in pair let orbax in.
// When the file answers, the users table has its say: a disabled account
// ends the session before anything is stored under its name.
void TestLogin::a_session_without_the_database_meets_the_users_table_later() {
    if (testing_on_server()) QSKIP("the file is moved away and back");
    MessageRecorder messages;
    forget_failed_logins();
    const QString path = folder_->database_path(), away = path + ".away";
    close_connection();
    QVERIFY(QFile::rename(path, away));
    type("orbax", "pelun");
    login_->press_at(kInsideOk);
    settle();
    QVERIFY(menu_open());
    QVERIFY(!app_state().account);
    QCOMPARE(app_state().unchecked_login, QString("orbax"));
    messages.clear();
    // Meanwhile the administrator disabled orbax; the file comes back.
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase("QSQLITE", "admin");
        admin.setDatabaseName(away);
        QVERIFY(admin.open());
        QVERIFY(disable_user(admin, kStaff, "orbax").ok());
        admin.close();
    }
    QSqlDatabase::removeDatabase("admin");
    QVERIFY(QFile::rename(away, path));
    const Actor who = current_actor();
    QCOMPARE(who.login, QString());
    QCOMPARE(messages.texts(),
             QStringList{"The account orbax is disabled, so this session ends now. Ask the laboratory's "
                         "administrator."});
    QVERIFY(!menu_open());
    QVERIFY(save_report(who, {minimal_patient(1, "Asha", "", ""),
                              {1, 1, "", "", "Serology", "", "N"},
                              "Serology",
                              {{0, "ASLO", "100"}}})
                .forbidden());
    QCOMPARE(number_of("select count(*) from test_main"), 0);

    // An enabled account takes over with its own role.
    app_state() = AppState{};
    app_state().unchecked_login = "tamor";
    QCOMPARE(current_actor().role, std::optional<Role>(Role::Technician));
    QCOMPARE(app_state().account->login, QString("tamor"));
}
