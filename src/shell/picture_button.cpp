#include "picture_button.h"

#include "artwork.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

PictureButton::PictureButton(QWidget* parent, const char* object_name, const QString& label, QRect geometry,
                             Paint paint, std::function<void()> on_press)
    : QAbstractButton(parent), paint_(std::move(paint)), on_press_(std::move(on_press)) {
    setObjectName(QString::fromLatin1(object_name));
    setText(label); // read by screen readers; the picture shows the label
    setAccessibleName(label);
    setGeometry(geometry);
    setFocusPolicy(on_press_ ? Qt::StrongFocus : Qt::NoFocus);
    if (!on_press_ || !paint_)
        setAttribute(Qt::WA_TransparentForMouseEvents);
    else
        setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (on_press_) on_press_();
    });
}

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (paint_) paint_(p, QRectF(rect()));
    if (!hasFocus()) return;
    // The focus mark: a dashed frame just inside the part of the picture.
    QPen pen(artwork::kInk, 2, Qt::DashLine);
    p.setPen(pen);
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5, 5);
}

void PictureButton::keyPressEvent(QKeyEvent* event) {
    const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
    if (plain &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space)) {
        if (isEnabled()) click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

// A click is a press and a release inside the picture, as it always was.
void PictureButton::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint()) && isEnabled()) click();
}

void PictureButton::focusInEvent(QFocusEvent* event) {
    QAbstractButton::focusInEvent(event);
    update();
}

void PictureButton::focusOutEvent(QFocusEvent* event) {
    QAbstractButton::focusOutEvent(event);
    update();
}
