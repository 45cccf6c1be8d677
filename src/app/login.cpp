#include "login.h"

#include "app_state.h"
#include "artwork.h"
#include "connection.h"
#include "credentials.h"
#include "failure_messages.h"
#include "journal.h"
#include "key_filters.h"
#include "message_box.h"
#include "password_dialog.h"
#include "picture_button.h"
#include "screen_registry.h"
#include "twips.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

namespace {

// The picture: 900 x 600 pixels at its natural size (13500 x 9000 twips).
constexpr int kPictureWidth = 13500;
constexpr int kPictureHeight = 9000;

// Click regions of the picture, in twips; bounds are exclusive. The words are
// painted from the same table, so each always lies inside its region.
constexpr Region kOk{4300, 6100, 7600, 8200};
constexpr Region kCancel{6400, 8200, 7600, 8100};

class LoginPicture : public QWidget {
public:
    LoginPicture(LoginScreen* screen) : QWidget(screen), screen_(screen) {
        setObjectName(QStringLiteral("Image1"));
        setGeometry(twips_rect(0, 0, kPictureWidth, kPictureHeight));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const double s = double(width()) / kPictureWidth;
        artwork::paper(p, rect());

        // Left panel: the laboratory's name and emblem.
        const QRectF panel(0, 0, width() * 0.29, height());
        QLinearGradient g(panel.topLeft(), panel.bottomLeft());
        g.setColorAt(0, artwork::kAccent);
        g.setColorAt(1, artwork::kInk);
        p.fillRect(panel, g);
        p.setPen(Qt::white);
        artwork::emblem(p, QRectF(panel.center().x() - 45, height() * 0.22, 90, 110));
        artwork::fitted_text(p, QRectF(20, height() * 0.46, panel.width() - 40, 60),
                             QStringLiteral("Tavora Lab"), 44, true);
        artwork::fitted_text(p, QRectF(20, height() * 0.56, panel.width() - 40, 30),
                             QStringLiteral("Pathology laboratory records"), 17);

        p.setPen(artwork::kInk);
        artwork::fitted_text(p, QRectF(width() * 0.33, height() * 0.2, width() * 0.6, 50),
                             QStringLiteral("Please sign in"), 30, true);

        // The words beside the two boxes (Text1 at 7560,5160; text2 at 7560,6480).
        const QRectF user_label(4300 * s, 5100 * s, 3100 * s, 380 * s);
        const QRectF password_label(4300 * s, 6420 * s, 3100 * s, 380 * s);
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(16);
        p.setFont(f);
        p.drawText(user_label, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Username"));
        p.drawText(password_label, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Password"));

        const double inset = 2;
        artwork::tile(p, kOk.rect(s, s).adjusted(inset, inset, -inset, -inset), QStringLiteral("O.K."),
                      artwork::kAccent, Qt::white, 20);
        artwork::tile(p, kCancel.rect(s, s).adjusted(inset, inset, -inset, -inset), QStringLiteral("Cancel"),
                      QColor(0xe8, 0xec, 0xef), artwork::kInk, 20);
    }

    void mousePressEvent(QMouseEvent* e) override {
        screen_->press_at(
            to_twips(e->position(), twips_rect(0, 0, kPictureWidth, kPictureHeight).size(), size()));
    }

private:
    LoginScreen* screen_;
};

} // namespace

LoginScreen::LoginScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kLoginScreen));
    setWindowTitle(QStringLiteral("Tavora Lab."));
    picture_ = new LoginPicture(this);
    setFixedSize(picture_->size());

    auto make_box = [this](const char* name, int top) {
        auto* box = new QLineEdit(picture_);
        box->setObjectName(QString::fromLatin1(name));
        QRect r = twips_rect(7560, top, 1212, 252);
        // The layout's 17-pixel box is too short for a framed line edit; grow it about its centre.
        r.adjust(0, -4, 24, 4);
        box->setGeometry(r);
        box->setText(QStringLiteral(" "));
        return box;
    };
    user_ = make_box("Text1", 5160);
    password_ = make_box("text2", 6480);
    user_->setAccessibleName(QStringLiteral("Username"));
    password_->setAccessibleName(QStringLiteral("Password"));
    // O.K. and Cancel for the keyboard and screen readers, over the words on
    // the picture; a mouse press still goes to the picture's own regions. A
    // keyboard press is a press at the middle of the word.
    const double s = double(picture_->width()) / kPictureWidth;
    auto* ok = new PictureButton(picture_, "ok", QStringLiteral("O.K."), kOk.rect(s, s).toRect(), nullptr,
                                 [this] { press_at(kOk.centre()); });
    auto* cancel =
        new PictureButton(picture_, "cancel", QStringLiteral("Cancel"), kCancel.rect(s, s).toRect(), nullptr,
                          [this] { press_at(kCancel.centre()); });
    setTabOrder(user_, password_);
    setTabOrder(password_, ok);
    setTabOrder(ok, cancel);
    connect(new QShortcut(QKeySequence(Qt::ALT | Qt::Key_O), this), &QShortcut::activated, ok,
            &QAbstractButton::click);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, cancel,
            &QAbstractButton::click);
    apply_enter_to_next(user_);
    password_->installEventFilter(this);
    password_->setContextMenuPolicy(Qt::NoContextMenu);
    password_->setAcceptDrops(false);
    user_->setFocus();
}

bool LoginScreen::eventFilter(QObject* watched, QEvent* event) {
    // A middle click pastes the selection: refused like every other paste.
    if (watched == password_ &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton)
        return true;
    if (watched != password_ || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    // Pasting would put the clipboard into the box in plain sight, and not into
    // the password: refuse it.
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Paste)) return true;
    const int code = typed_char_code(key);
    if (code < 0) return false;
    if (code == '\r') {
        // Enter goes back to the user name box, as it always did (the boxes
        // were the only stops then; O.K. and Cancel come after them now).
        user_->setFocus(Qt::TabFocusReason);
        return true;
    }
    if (code == '\b') {
        typed_password_.chop(1);
        return false;
    }
    typed_password_.append(QChar(code));
    password_->insert(QStringLiteral("*"));
    return true;
}

void LoginScreen::press_at(QPointF twips) {
    if (kCancel.contains(twips.x(), twips.y())) {
        screens::end_program();
        return;
    }
    app_state().login_password = typed_password_;
    // The users table decides once the database answers. Only when it
    // cannot be opened at all (no file, not a database, no server) do the
    // built-in pairs still reach the menu (where every action names the
    // file); a database that is merely busy is waited for, never bypassed.
    std::optional<Account> account;
    auto db = database();
    if (!db.ok() && db.error.busy()) {
        report_failure(db.error, QStringLiteral("Logging in"));
        return;
    }
    LoginCheck check = db.ok() ? check_login(db.value, user_->text(), typed_password_)
                               : check_login_without_database(
                                     user_->text(), login_pair_accepted(user_->text(), typed_password_));
    switch (check.outcome) {
    case LoginCheck::Outcome::Accepted:
        account = check.account;
        break;
    case LoginCheck::Outcome::Waiting:
        show_message(QStringLiteral("Too many failed logins for this name: wait %1 seconds, then try again.")
                         .arg(check.wait_seconds));
        clear_boxes();
        return;
    case LoginCheck::Outcome::Refused:
        reject();
        return;
    case LoginCheck::Outcome::Busy:
    case LoginCheck::Outcome::Failed:
        report_failure(check.error, QStringLiteral("Logging in"));
        return;
    case LoginCheck::Outcome::Unreachable:
        if (db.ok()) return reject(); // an open database that is not open: never a way in
        break;
    }
    if (!kOk.contains(twips.x(), twips.y())) return;
    // An account given a password by somebody else chooses its own first.
    if (account && account->must_change) {
        const auto chosen = ask_new_password(account->login);
        if (!chosen) {
            clear_boxes();
            return;
        }
        if (report_failure(
                set_password(db.value, {account->login, account->role}, account->login, *chosen, false),
                QStringLiteral("Storing the new password")))
            return;
        account->must_change = false;
    }
    app_state().account = account;
    app_state().ended = false;
    // Let in without the database: the users table has its say when the
    // database first answers.
    app_state().unchecked_login = account ? QString() : user_->text().trimmed().toLower();
    // Who made the changes the journal records.
    set_journal_user(account ? account->login : user_->text());
    screens::open(QString::fromLatin1(kMainMenu));
    close();
}

void LoginScreen::reject() {
    show_message(QStringLiteral("Wrong user name or password"));
    clear_boxes();
}

void LoginScreen::clear_boxes() {
    user_->clear();
    password_->clear();
    typed_password_.clear();
    // Both are typed again: from the user name (not the box that had the
    // focus when the message came up).
    user_->setFocus(Qt::OtherFocusReason);
}
