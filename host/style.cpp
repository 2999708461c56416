#include "style.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QVariant>

namespace host {

namespace {

constexpr char kClosable[] = "loxnar_closable";
const QColor kThumb(150, 150, 150);

// The MDI child whose title bar or maximised controls are drawn for
// `widget`.  The controls of a maximised child sit in the frame's menu bar
// and are drawn for the MDI area's current child, with no widget named:
// the area is then the one of the frame.
const QWidget* child_of(const QWidget* widget) {
    if (qobject_cast<const QMdiSubWindow*>(widget)) return widget;
    const QMdiArea* area = qobject_cast<const QMdiArea*>(widget);
    for (const QWidget* top : QApplication::topLevelWidgets()) {
        if (area) break;
        area = top->findChild<QMdiArea*>();
    }
    return area ? area->currentSubWindow() : nullptr;
}

bool may_close(const QWidget* widget) {
    const QWidget* sub = child_of(widget);
    const QVariant value = sub ? sub->property(kClosable) : QVariant();
    return !value.isValid() || value.toBool();
}

class HostStyle : public QProxyStyle {
public:
    HostStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        if (control == CC_ScrollBar) {
            if (const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option)) {
                // The track and arrows as they are, then the thumb darker.
                QStyleOptionSlider track = *bar;
                track.subControls &= ~SC_ScrollBarSlider;
                QProxyStyle::drawComplexControl(control, &track, painter, widget);
                if (bar->subControls & SC_ScrollBarSlider) {
                    QStyleOptionSlider thumb = *bar;
                    thumb.subControls = SC_ScrollBarSlider;
                    thumb.palette.setColor(QPalette::Button, kThumb);
                    QProxyStyle::drawComplexControl(control, &thumb, painter, widget);
                }
                return;
            }
        }
        const SubControl close = control == CC_TitleBar ? SC_TitleBarCloseButton : SC_MdiCloseButton;
        if ((control == CC_TitleBar || control == CC_MdiControls) && !may_close(widget)) {
            if (const auto* bar = qstyleoption_cast<const QStyleOptionTitleBar*>(option)) {
                QStyleOptionTitleBar without = *bar;
                without.subControls &= ~close;
                QProxyStyle::drawComplexControl(control, &without, painter, widget);
                return;
            }
            QStyleOptionComplex without = *option;
            without.subControls &= ~close;
            QProxyStyle::drawComplexControl(control, &without, painter, widget);
            return;
        }
        QProxyStyle::drawComplexControl(control, option, painter, widget);
    }

    SubControl hitTestComplexControl(ComplexControl control, const QStyleOptionComplex* option, const QPoint& pos,
                                     const QWidget* widget) const override {
        const SubControl hit = QProxyStyle::hitTestComplexControl(control, option, pos, widget);
        // Where no close button is drawn, a click is on the title.
        if (control == CC_TitleBar && hit == SC_TitleBarCloseButton && !may_close(widget)) return SC_TitleBarLabel;
        if (control == CC_MdiControls && hit == SC_MdiCloseButton && !may_close(widget)) return SC_None;
        return hit;
    }

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_Menu_AllowActiveAndDisabled) return 1;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

}  // namespace

void install_host_style() { QApplication::setStyle(new HostStyle); }

void set_closable(QWidget* sub, bool closable) {
    if (!sub) return;
    sub->setProperty(kClosable, closable);
    sub->update();
    // A maximised child's controls are in the frame's menu bar.
    if (QWidget* frame = sub->window()) {
        for (QWidget* child : frame->findChildren<QWidget*>()) {
            if (child->inherits("QMdi::ControllerWidget")) child->update();
        }
    }
}

}  // namespace host
