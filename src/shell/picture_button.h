#pragma once

#include <QAbstractButton>

#include <functional>

class QPainter;

// A part of a painted picture that acts when pressed: the mouse's, the
// keyboard's and a screen reader's way to it. It is a button to them all: it
// carries its label as its accessible name, takes the focus by Tab, draws a
// focus mark while it has the focus and is pressed by Enter or Space.
//
// With `paint`, it draws its own picture and acts on a click (pressed and
// released inside). Without, it lies over a picture drawn beneath and lets
// every mouse press through to that picture, which keeps its own click
// regions; only the keyboard presses it. Without `on_press` it is only a
// picture: no focus, no clicks.
class PictureButton : public QAbstractButton {
public:
    using Paint = std::function<void(QPainter&, const QRectF&)>;

    PictureButton(QWidget* parent, const char* object_name, const QString& label, QRect geometry, Paint paint,
                  std::function<void()> on_press);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    Paint paint_;
    std::function<void()> on_press_;
};
