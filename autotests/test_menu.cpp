#include "test_support.h"

#include "app_state.h"
#include "connection.h"
#include "main_menu.h"
#include "menu_regions.h"
#include "screen_registry.h"
#include "start.h"

#include <QAbstractButton>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>

// A stand-in screen that only counts how often it was built.
static int built = 0;
static QWidget* make_screen() {
    ++built;
    return new QWidget;
}

class TestMenu : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    QPointer<MainMenu> menu_;

    QWidget* kind(const char* name) { return menu_->findChild<QWidget*>(name); }

private slots:
    void initTestCase() {
        install_screens();
        screens::add("Serology", make_screen);
        screens::add("Peripheral_blood_smear", make_screen);
        screens::add("patient_reg", make_screen);
    }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        app_state() = AppState{};
        built = 0;
        menu_ = qobject_cast<MainMenu*>(screens::open(kMainMenu));
        QVERIFY(menu_);
        show_active(menu_);
    }
    void cleanup() {
        close_screens();
        folder_.reset();
    }

    void load_opens_the_connection_and_hides_the_kinds();
    void missing_database_shows_nothing_at_the_menu();
    void test_regions_data();
    void test_regions();
    void press_on_a_bound_of_registration_stores_the_point();
    void stored_point_is_rounded_halves_to_even();
    void patient_kinds_set_the_flags_data();
    void patient_kinds_set_the_flags();
    void background_press_opens_nothing_but_sets_flags();
    void a_test_screen_opens_over_the_menu_once();
    void registration_replaces_the_menu_and_back_resets_it();
    void utility_replaces_the_menu_and_exit_brings_it_back();
    void exit_icon_ends_the_program();
    void clicking_a_kind_picture_chooses_it();
    void every_entry_is_reached_by_tab_and_pressed_by_enter();
    void the_focus_starts_on_a_test_and_comes_back_to_its_tile();
};

void TestMenu::load_opens_the_connection_and_hides_the_kinds() {
    QVERIFY(connection_is_open());
    QCOMPARE(menu_->windowTitle(), QString("Tavora Lab"));
    QVERIFY(!kind("Image5")->isVisible());
    QVERIFY(!kind("Image6")->isVisible());
    QVERIFY(!kind("Image7")->isVisible());
    QCOMPARE(menu_->menu_click(), QPoint(0, 0));
}

void TestMenu::missing_database_shows_nothing_at_the_menu() {
    menu_->close();
    folder_ = std::make_unique<ProgramFolder>(false);
    MessageRecorder messages;
    menu_ = qobject_cast<MainMenu*>(screens::open(kMainMenu));
    QVERIFY(menu_ && menu_->isVisible());
    QVERIFY(!connection_is_open());
    menu_->press_at({2700, 2700}); // on no test name: nothing opens
    menu_->choose(MainMenu::PatientKind::New);
    QVERIFY(messages.shown.isEmpty());
}

void TestMenu::test_regions_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<QString>("screen");
    QTest::newRow("culture low corner") << 4001 << 201 << "culture_and_antibiotic_sensitivity_pattern";
    QTest::newRow("culture high corner") << 8249 << 649 << "culture_and_antibiotic_sensitivity_pattern";
    QTest::newRow("culture left bound") << 4000 << 400 << "";
    QTest::newRow("smear and thyroid overlap") << 5500 << 1610 << "Peripheral_blood_smear";
    QTest::newRow("thyroid alone") << 5500 << 1700 << "Thyroid_hormone_profile";
    QTest::newRow("biochemistry") << 3000 << 800 << "biochemistry_report";
    QTest::newRow("blood sugar") << 1000 << 1000 << "Blood_sugar_report";
    QTest::newRow("urinalysis") << 1000 << 1800 << "Urinalysis";
    QTest::newRow("routine haemotology") << 1000 << 400 << "Routine_haemotology";
    QTest::newRow("serology") << 1000 << 4100 << "Serology";
    QTest::newRow("stool") << 4000 << 3200 << "stool_routine";
    QTest::newRow("rbc") << 1000 << 3000 << "RBC_indices";
    QTest::newRow("widal") << 4000 << 4200 << "widal_test";
    QTest::newRow("prothrombin") << 7000 << 3500 << "prothrombin_time";
    QTest::newRow("prothrombin top bound") << 7000 << 3300 << "";
    QTest::newRow("background") << 7000 << 5500 << "";
}

void TestMenu::test_regions() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(QString, screen);
    const MenuRegion* r = test_region_at(x, y);
    QCOMPARE(r ? QString::fromLatin1(r->screen) : QString(), screen);
}

void TestMenu::press_on_a_bound_of_registration_stores_the_point() {
    for (QPointF p : {QPointF(4500, 4800), QPointF(5000, 5000), QPointF(3600, 4800)}) {
        menu_->press_at(p);
        QVERIFY(menu_->isVisible());
        QVERIFY(menu_->choosing());
        QCOMPARE(menu_->menu_click(), p.toPoint());
    }
    QCOMPARE(built, 0);
}

void TestMenu::stored_point_is_rounded_halves_to_even() {
    menu_->press_at({1000.5, 1001.5});
    QCOMPARE(menu_->menu_click(), QPoint(1000, 1002));
    menu_->press_at({2000.49, 2000.51});
    QCOMPARE(menu_->menu_click(), QPoint(2000, 2001));
}

void TestMenu::patient_kinds_set_the_flags_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("register_on_save");
    QTest::addColumn<bool>("mark_temporary");
    QTest::addColumn<bool>("asked");
    QTest::newRow("new") << int(MainMenu::PatientKind::New) << int(MessageAnswer::Yes) << true << false
                         << false;
    QTest::newRow("old, yes") << int(MainMenu::PatientKind::Old) << int(MessageAnswer::Yes) << false << true
                              << true;
    QTest::newRow("old, no") << int(MainMenu::PatientKind::Old) << int(MessageAnswer::No) << false << false
                             << true;
    QTest::newRow("walk-in") << int(MainMenu::PatientKind::WalkIn) << int(MessageAnswer::Yes) << true << true
                             << false;
}

void TestMenu::patient_kinds_set_the_flags() {
    QFETCH(int, kind);
    QFETCH(int, answer);
    QFETCH(bool, register_on_save);
    QFETCH(bool, mark_temporary);
    QFETCH(bool, asked);
    app_state().register_on_save = !register_on_save;
    app_state().mark_temporary = !mark_temporary;
    MessageRecorder messages;
    messages.answer(MessageAnswer(answer));
    menu_->press_at({1000, 4100}); // Serology
    menu_->choose(MainMenu::PatientKind(kind));
    QCOMPARE(app_state().register_on_save, register_on_save);
    QCOMPARE(app_state().mark_temporary, mark_temporary);
    QCOMPARE(messages.shown.size(), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(messages.shown[0].text, QString("               Temporary patient?"));
        QVERIFY(messages.shown[0].buttons == MessageButtons::YesNo);
        QCOMPARE(messages.shown[0].title, QString("tavora lab"));
    }
    QVERIFY(!menu_->choosing());
    QVERIFY(screens::find("Serology"));
    QVERIFY(menu_->isVisible()); // the menu stays beneath a test screen
}

void TestMenu::background_press_opens_nothing_but_sets_flags() {
    menu_->press_at({7000, 5500});
    QVERIFY(menu_->choosing());
    menu_->choose(MainMenu::PatientKind::New);
    QCOMPARE(built, 0);
    QVERIFY(app_state().register_on_save);
    QVERIFY(!app_state().mark_temporary);
    QVERIFY(!menu_->choosing());
}

void TestMenu::a_test_screen_opens_over_the_menu_once() {
    menu_->press_at({5500, 1610});
    menu_->choose(MainMenu::PatientKind::New);
    QWidget* first = screens::find("Peripheral_blood_smear");
    QVERIFY(first && first->isVisible());
    first->setWindowTitle("kept as it was");
    menu_->press_at({5500, 1610});
    menu_->choose(MainMenu::PatientKind::WalkIn);
    QCOMPARE(screens::find("Peripheral_blood_smear"), first);
    QCOMPARE(first->windowTitle(), QString("kept as it was"));
    QCOMPARE(built, 1);
}

void TestMenu::registration_replaces_the_menu_and_back_resets_it() {
    menu_->press_at({3000, 3000});
    QCOMPARE(menu_->menu_click(), QPoint(3000, 3000));
    menu_->press_at({5000, 4800}); // registration
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!menu_); // closed and gone
    QWidget* reg = screens::find("patient_reg");
    QVERIFY(reg && reg->isVisible());
    // The registration screen's Exit: close it, then load the menu again.
    reg->close();
    menu_ = qobject_cast<MainMenu*>(screens::open(kMainMenu));
    QCOMPARE(menu_->menu_click(), QPoint(0, 0));
    QVERIFY(!menu_->choosing());
}

void TestMenu::utility_replaces_the_menu_and_exit_brings_it_back() {
    menu_->press_at({3200, 4800}); // Utility
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!menu_);
    QWidget* utility = screens::find("utility");
    QVERIFY(utility && utility->isVisible());
    QTest::mouseClick(utility->findChild<QPushButton*>("Command1"), Qt::LeftButton); // Exit
    menu_ = qobject_cast<MainMenu*>(screens::find(kMainMenu));
    QVERIFY(menu_ && menu_->isVisible());
    QVERIFY(!menu_->choosing());
}

void TestMenu::exit_icon_ends_the_program() {
    QTest::mouseClick(menu_->findChild<QWidget*>("Image2"), Qt::LeftButton);
    QVERIFY(!menu_ || !menu_->isVisible());
}

void TestMenu::clicking_a_kind_picture_chooses_it() {
    QWidget* picture = menu_->findChild<QWidget*>("Image1");
    // (100, 270) pixels in the picture: (1500, 4050) twips, on Serology.
    QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(100, 270));
    QCOMPARE(menu_->menu_click(), QPoint(1500, 4050));
    QTest::mouseClick(kind("Image7"), Qt::LeftButton);
    QVERIFY(app_state().register_on_save && app_state().mark_temporary);
    QVERIFY(screens::find("Serology"));
}

void TestMenu::every_entry_is_reached_by_tab_and_pressed_by_enter() {
    // Every test screen and registration open as stand-ins here; Utility is real.
    for (const MenuRegion& r : kTestRegions)
        screens::add(r.screen, make_screen);
    // Tab from the exit icon walks every region of the picture in reading
    // order (then the patient kinds when shown, and Find patient).
    const std::vector<const MenuRegion*> order = menu_reading_order();
    const QStringList tree = accessible_tree(menu_);
    qInfo().noquote() << "the menu to a screen reader:\n" + tree.join('\n');
    QStringList buttons = tree.filter(QRegularExpression("^ *button: "));
    for (QString& b : buttons)
        b = b.trimmed().mid(8);
    QStringList expected{"Exit"};
    for (const MenuRegion* r : order)
        expected << QString::fromUtf8(r->label);
    // The patient kinds are hidden until a test is chosen; the windows that
    // open over the menu follow.
    expected << "Find patient" << "Order tests" << "Orders waiting";
    QCOMPARE(buttons, expected);
    QCOMPARE(int(order.size()), int(std::size(kTestRegions)) + 2);
    for (std::size_t i = 0; i < order.size(); ++i) {
        const MenuRegion& r = *order[i];
        menu_ = qobject_cast<MainMenu*>(screens::open(kMainMenu));
        show_active(menu_);
        auto* exit = menu_->findChild<QAbstractButton*>("Image2");
        QCOMPARE(exit->accessibleName(), QString("Exit"));
        exit->setFocus();
        for (std::size_t k = 0; k <= i; ++k)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* entry = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        QVERIFY2(entry && entry->objectName() == r.screen, r.label);
        QCOMPARE(entry->accessibleName(), QString::fromUtf8(r.label));
        // Enter presses it as a click at the middle of its region would.
        built = 0;
        QTest::keyClick(entry, Qt::Key_Return);
        settle();
        if (&r == &kRegistrationRegion || &r == &kUtilityRegion) {
            QCOMPARE(built, &r == &kRegistrationRegion ? 1 : 0);
            QVERIFY(screens::find(r.screen) && screens::find(r.screen)->isVisible());
            QVERIFY(!screens::find(kMainMenu)); // it replaced the menu
            screens::find(r.screen)->close();
            settle();
            continue;
        }
        QCOMPARE(menu_->menu_click(), r.region.centre().toPoint());
        QVERIFY(menu_->choosing());
        QCOMPARE(QApplication::focusWidget(), kind("Image5")); // the patient kinds come next
        // Each kind in turn, reached by Tab and pressed by Space.
        const struct {
            const char* name;
            const char* label;
            bool register_on_save, temporary;
        } kinds[] = {{"Image5", "New patient", true, false},
                     {"Image6", "Old patient", false, true}, // "Temporary patient?" answered Yes
                     {"Image7", "Walk-in patient", true, true}};
        const auto& k = kinds[i % 3];
        for (std::size_t t = 0; t < i % 3; ++t)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), kind(k.name));
        QCOMPARE(kind(k.name)->accessibleName(), QString(k.label));
        MessageRecorder question;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        settle();
        QCOMPARE(built, 1);
        QVERIFY2(screens::find(r.screen), r.screen); // its own screen, nothing else
        QCOMPARE(app_state().register_on_save, k.register_on_save);
        QCOMPARE(app_state().mark_temporary, k.temporary);
        close_screens();
        settle();
    }
}

// Enter at the menu never ends the program by surprise: the focus starts on
// the first test, and a closed screen gives it back to the tile that opened
// it (the menu made afresh after registration too).
void TestMenu::the_focus_starts_on_a_test_and_comes_back_to_its_tile() {
    const QString first_test = QString::fromLatin1(menu_reading_order()[0]->screen);
    QCOMPARE(menu_->focusWidget()->objectName(), first_test);
    // A test screen over the menu: chosen by the keyboard, closed again.
    menu_->press_at({5500, 1610});
    menu_->choose(MainMenu::PatientKind::New);
    QWidget* screen = screens::find("Peripheral_blood_smear");
    QVERIFY(screen);
    screen->close();
    settle();
    QCOMPARE(menu_->focusWidget()->objectName(), QString("Peripheral_blood_smear"));
    // Registration replaces the menu; the menu made again starts on its tile.
    menu_->press_at({5000, 4800});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    screens::find("patient_reg")->close();
    menu_ = qobject_cast<MainMenu*>(screens::open(kMainMenu));
    QCOMPARE(menu_->focusWidget()->objectName(), QString(kRegistrationRegion.screen));
}

TAVORA_TEST_MAIN(TestMenu)
#include "test_menu.moc"
