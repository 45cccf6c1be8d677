#include "scroll_fit.h"

#include <QApplication>
#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace {

// What a window manager's frame and title take around a window.
constexpr QSize kFrameAllowance(10, 40);

} // namespace

void scroll_when_larger(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen) return;
    const QSize room = screen->availableGeometry().size() - kFrameAllowance;
    QLayout* layout = window->layout();
    // A laid-out window is not squeezed below the size its layout asks for:
    // squeezed, wrapped captions are clipped.
    const QSize asked = layout ? layout->totalSizeHint() : QSize();
    const QSize need = window->size().expandedTo(window->minimumSize()).expandedTo(asked);
    if (need.width() <= room.width() && need.height() <= room.height()) return;

    // The scroll area and the page go into the window first, so every control
    // stays in the same window and keeps its place in the tab order.
    QWidget* focused = window->focusWidget();
    const QSize built = need;
    auto* scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("scrolled"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("page"));
    page->setAutoFillBackground(true);
    scroll->setWidget(page);
    if (layout) {
        page->setLayout(layout); // taken from the window
        page->setMinimumSize(asked);
        scroll->setWidgetResizable(true);
    } else {
        page->setFixedSize(built);
    }
    for (QObject* child : window->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w == scroll || w->isWindow()) continue;
        const QRect place = w->geometry();
        w->setParent(page);
        w->setGeometry(place);
    }
    auto* frame = new QVBoxLayout(window);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->addWidget(scroll);

    const int bar = scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    window->setMinimumSize(QSize(200, 150));
    window->setMaximumSize(built + QSize(bar, bar));
    // Room for the bar that appears, so one direction's scrolling does not
    // bring the other's.
    QSize size = built;
    if (built.height() > room.height()) size.rwidth() += bar;
    if (built.width() > room.width()) size.rheight() += bar;
    window->resize(size.boundedTo(room));
    if (focused) focused->setFocus();
    QObject::connect(qApp, &QApplication::focusChanged, scroll, [scroll, page](QWidget*, QWidget* now) {
        if (now && page->isAncestorOf(now)) scroll->ensureWidgetVisible(now);
    });
}
