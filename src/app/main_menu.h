#pragma once

#include <QPoint>
#include <QPointF>
#include <QWidget>

// The main menu `Form7`: one picture with the names of the twelve tests,
// Utility and registration on it. A press on a test name shows the three
// patient-kind pictures; choosing one sets the flags and opens the test screen.
class MainMenu : public QWidget {
    Q_OBJECT
public:
    enum class PatientKind { New, Old, WalkIn };

    explicit MainMenu(QWidget* parent = nullptr);

    // A mouse press on the picture `Image1`, at a point in twips from its corner.
    void press_at(QPointF twips);
    // A click on Image5 (New), Image6 (Old) or Image7 (Walk-in).
    void choose(PatientKind kind);

    // The stored point of the last press that was not on registration or Utility.
    QPoint menu_click() const { return {menu_click_x_, menu_click_y_}; }
    bool choosing() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void replace_with(const char* screen);
    // The tile that opened the latest screen takes the focus (the first
    // test's when none did): Enter never ends the program by surprise.
    void focus_tile(const char* screen);
    void show_patient_kinds(bool visible);

    qint16 menu_click_x_ = 0;
    qint16 menu_click_y_ = 0;
    QWidget* kinds_[3] = {};
};
