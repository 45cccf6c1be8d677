#pragma once

#include <QPointF>
#include <QString>
#include <QWidget>

class QLineEdit;

// The login screen `Tavora_lab`: one picture with Username, Password, O.K. and
// Cancel drawn on it, and the two boxes beside the first two words.
class LoginScreen : public QWidget {
    Q_OBJECT
public:
    explicit LoginScreen(QWidget* parent = nullptr);

    // A mouse press on the picture, at a point in twips from its top-left corner.
    void press_at(QPointF twips);

    const QString& typed_password() const { return typed_password_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reject();
    void clear_boxes();

    QWidget* picture_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    // The password as typed: the box itself only ever receives "*".
    QString typed_password_;
};
