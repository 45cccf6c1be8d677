#include "main_menu.h"

#include "analyzer_results.h"
#include "app_state.h"
#include "artwork.h"
#include "connection.h"
#include "menu_regions.h"
#include "message_box.h"
#include "picture_button.h"
#include "screen_registry.h"

#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

#include <cmath>
#include <functional>
#include <limits>

namespace {

QString& last_opened() {
    return app_state().menu_tile;
}

constexpr int kPictureWidth = 8412; // Image1, in twips
constexpr int kPictureHeight = 5892;

// Rounds to the nearest whole number, halves to even, into 16 bits.
qint16 to_stored(double twips) {
    const double r = std::nearbyint(twips);
    return qint16(std::clamp(r, double(std::numeric_limits<qint16>::min()),
                             double(std::numeric_limits<qint16>::max())));
}

class MenuPicture : public QWidget {
public:
    MenuPicture(QWidget* parent, std::function<void(QPointF)> on_press)
        : QWidget(parent), on_press_(std::move(on_press)) {
        setObjectName(QStringLiteral("Image1"));
        setGeometry(twips_rect(360, 840, kPictureWidth, kPictureHeight));
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        artwork::paper(p, rect());
        p.setPen(QPen(artwork::kAccent.lighter(150), 1));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        const double sx = double(width()) / kPictureWidth, sy = double(height()) / kPictureHeight;

        for (const MenuRegion& r : kTestRegions)
            artwork::tile(p, r.region.rect(sx, sy).adjusted(1.5, 1.5, -1.5, -1.5), QString::fromUtf8(r.label),
                          QColor(0xd9, 0xf0, 0xec), artwork::kInk);
        for (const MenuRegion* r : {&kUtilityRegion, &kRegistrationRegion})
            artwork::tile(p, r->region.rect(sx, sy).adjusted(1.5, 1.5, -1.5, -1.5),
                          QString::fromUtf8(r->label), artwork::kAccent, Qt::white);

        // The free band across the middle carries the heading.
        p.setPen(artwork::kInk);
        artwork::fitted_text(p, QRectF(300 * sx, 2250 * sy, 7800 * sx, 550 * sy),
                             QStringLiteral("Tavora Lab \u2014 choose a test, registration or Utility"), 18,
                             true);
        p.setPen(artwork::kInk.lighter(160));
        artwork::fitted_text(p, QRectF(300 * sx, 5200 * sy, 6500 * sx, 500 * sy),
                             QStringLiteral("After a test, pick the kind of patient on the right."), 13);
    }

    void mousePressEvent(QMouseEvent* e) override {
        on_press_(to_twips(e->position(), twips_rect(0, 0, kPictureWidth, kPictureHeight).size(), size()));
    }

private:
    std::function<void(QPointF)> on_press_;
};

// A picture that only decorates: no focus, no clicks, nothing to read out.
class Decoration : public QWidget {
public:
    Decoration(QWidget* parent, const char* name, QRect geometry,
               std::function<void(QPainter&, const QRectF&)> paint)
        : QWidget(parent), paint_(std::move(paint)) {
        setObjectName(QString::fromLatin1(name));
        setGeometry(geometry);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        paint_(p, QRectF(rect()));
    }

private:
    std::function<void(QPainter&, const QRectF&)> paint_;
};

// Windows that open over the menu and leave it as it is: each a tile outside
// the picture (so no region of it changes) with its own keys, for the logins
// whose role may use it (everyone, without a right).
struct WindowTile {
    const char* screen;
    const char* label;
    QRect place;
    QKeyCombination keys;
    std::optional<Right> right;
    bool analyzers = false; // shown only where analyzers send their results
};

const WindowTile kWindowTiles[] = {
    {"find_patient", "Find patient", twips_rect(9000, 5520, 2430, 700), Qt::CTRL | Qt::Key_F, std::nullopt},
    {"verify_list", "Reports to verify", twips_rect(9000, 6360, 2430, 700), Qt::CTRL | Qt::Key_R,
     Right::Verify},
    {"users", "Users", twips_rect(360, 6780, 1800, 400), Qt::CTRL | Qt::Key_U, Right::ManageUsers},
    {"pending_results", "Analyzer results", twips_rect(2400, 6780, 2600, 400), Qt::CTRL | Qt::Key_A,
     Right::EnterResults, true},
    {"order_tests", "Order tests", twips_rect(5240, 6780, 1700, 400), Qt::CTRL | Qt::Key_O, Right::Order},
    {"orders_waiting", "Orders waiting", twips_rect(7080, 6780, 1780, 400), Qt::CTRL | Qt::Key_W,
     Right::Order},
};

PictureButton::Paint kind_tile(const char* label) {
    return [label](QPainter& p, const QRectF& r) {
        artwork::tile(p, r.adjusted(2, 2, -2, -2), QString::fromLatin1(label), artwork::kAccent, Qt::white,
                      18);
    };
}

void paint_exit_icon(QPainter& p, const QRectF& r) {
    const QRectF c = r.adjusted(2, 2, -2, -2);
    p.setPen(QPen(QColor(0x8f, 0x1d, 0x1d), 1.5));
    p.setBrush(QColor(0xd6, 0x45, 0x45));
    p.drawEllipse(c);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    const double k = c.width() * 0.3;
    p.drawLine(c.center() + QPointF(-k, -k), c.center() + QPointF(k, k));
    p.drawLine(c.center() + QPointF(-k, k), c.center() + QPointF(k, -k));
}

} // namespace

MainMenu::MainMenu(QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromLatin1(kMainMenu));
    setWindowTitle(QStringLiteral("Tavora Lab"));
    setFixedSize(twips_rect(0, 0, 11880, 7200).size());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, artwork::kPaper);
    setPalette(pal);

    // The exit icon, first in reading order; then every name on the picture,
    // row by row, each pressed by the keyboard as a click at its centre.
    QList<QWidget*> order;
    order << new PictureButton(this, "Image2", QStringLiteral("Exit"), twips_rect(240, 240, 480, 480),
                               paint_exit_icon, [] { screens::end_program(); });
    auto* picture = new MenuPicture(this, [this](QPointF t) { press_at(t); });
    const double sx = double(picture->width()) / kPictureWidth,
                 sy = double(picture->height()) / kPictureHeight;
    for (const MenuRegion* r : menu_reading_order()) {
        const QPointF centre = r->region.centre();
        order << new PictureButton(picture, r->screen, QString::fromUtf8(r->label),
                                   r->region.rect(sx, sy).toRect(), nullptr, [this, r, centre] {
                                       const bool test = !(r == &kRegistrationRegion || r == &kUtilityRegion);
                                       press_at(centre);
                                       // The patient kinds come next: the focus goes to the first.
                                       if (test && choosing()) kinds_[0]->setFocus(Qt::OtherFocusReason);
                                   });
    }
    kinds_[0] =
        new PictureButton(this, "Image5", QStringLiteral("New patient"), twips_rect(9000, 2160, 2475, 915),
                          kind_tile("New Patient"), [this] { choose(PatientKind::New); });
    kinds_[1] =
        new PictureButton(this, "Image6", QStringLiteral("Old patient"), twips_rect(9000, 3240, 2505, 855),
                          kind_tile("Old patient"), [this] { choose(PatientKind::Old); });
    kinds_[2] = new PictureButton(this, "Image7", QStringLiteral("Walk-in patient"),
                                  twips_rect(9000, 4200, 2430, 885), kind_tile("Walk-in patient"),
                                  [this] { choose(PatientKind::WalkIn); });
    order << kinds_[0] << kinds_[1] << kinds_[2];
    const auto analyzers = analyzers_in_use();
    for (const WindowTile& t : kWindowTiles) {
        if (t.right && !logged_in_may(*t.right)) continue;
        if (t.analyzers && !(analyzers.ok() && analyzers.value)) continue;
        const QString screen = QString::fromLatin1(t.screen);
        auto open = [screen] {
            last_opened() = screen;
            screens::open(screen);
        };
        auto* tile = new PictureButton(this, t.screen, QString::fromLatin1(t.label), t.place,
                                       kind_tile(t.label), open);
        const QString keys = QKeySequence(t.keys).toString(QKeySequence::NativeText);
        tile->setToolTip(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(t.label), keys));
        connect(new QShortcut(QKeySequence(t.keys), this), &QShortcut::activated, this, open);
        order << tile;
    }
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    new Decoration(this, "Image3", twips_rect(7680, 5160, 480, 480), artwork::emblem);
    new Decoration(this, "Image4", twips_rect(7560, 5160, 480, 480), artwork::emblem);
    show_patient_kinds(false);
    // The focus starts on the tile that opened the latest screen, else on
    // the first test; the exit icon is reached by Shift+Tab or a click.
    if (!last_opened().isEmpty() && findChild<QWidget*>(last_opened()))
        focus_tile(qPrintable(last_opened()));
    else if (order.size() > 1)
        order[1]->setFocus(Qt::OtherFocusReason);

    open_connection();
}

void MainMenu::focus_tile(const char* screen) {
    if (auto* tile = findChild<QWidget*>(QString::fromLatin1(screen)); tile && tile->isVisibleTo(this))
        tile->setFocus(Qt::OtherFocusReason);
}

bool MainMenu::choosing() const {
    return kinds_[0]->isVisible();
}

void MainMenu::show_patient_kinds(bool visible) {
    for (QWidget* w : kinds_)
        w->setVisible(visible);
}

void MainMenu::press_at(QPointF t) {
    if (kRegistrationRegion.region.contains(t.x(), t.y())) return replace_with(kRegistrationRegion.screen);
    if (kUtilityRegion.region.contains(t.x(), t.y())) return replace_with(kUtilityRegion.screen);
    menu_click_x_ = to_stored(t.x());
    menu_click_y_ = to_stored(t.y());
    show_patient_kinds(true);
}

void MainMenu::replace_with(const char* screen) {
    // A screen that does not exist yet opens nothing, and the menu stays.
    if (!screens::open(QString::fromLatin1(screen))) return;
    last_opened() = QString::fromLatin1(screen);
    close();
}

void MainMenu::choose(PatientKind kind) {
    AppState& state = app_state();
    switch (kind) {
    case PatientKind::New:
        state.register_on_save = true;
        state.mark_temporary = false;
        break;
    case PatientKind::Old:
        state.register_on_save = false;
        state.mark_temporary = show_message(QStringLiteral("               Temporary patient?"),
                                            MessageButtons::YesNo) == MessageAnswer::Yes;
        break;
    case PatientKind::WalkIn:
        state.register_on_save = true;
        state.mark_temporary = true;
        break;
    }
    const MenuRegion* r = test_region_at(menu_click_x_, menu_click_y_);
    // Back on the test's tile before the kinds go (the focus would else
    // fall to the next control, or wrap round to the exit icon), so the
    // menu has it when the screen closes.
    if (r) {
        last_opened() = QString::fromLatin1(r->screen);
        focus_tile(r->screen);
    }
    show_patient_kinds(false);
    if (r) screens::open(QString::fromLatin1(r->screen));
}

void MainMenu::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(artwork::kInk);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(18);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(px(840), px(240), px(8000), px(480)), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Tavora Lab"));
}
