#include "platform/ui/accessibility.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace accessibility {
namespace {

// The windows a person can see, in the order Qt knows them; what Qt's own application
// interface lists, less the windows that are not shown.
QObjectList shownWindows() {
    QObjectList list;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible() || window->type() == Qt::Popup || window->type() == Qt::Desktop) continue;
        if (QAccessibleInterface* root = window->accessibleRoot())
            if (root->object()) list.append(root->object());
    }
    return list;
}

class ShownWindowsApplication : public QAccessibleApplication {
public:
    int childCount() const override { return int(shownWindows().size()); }
    QAccessibleInterface* child(int index) const override {
        const QObjectList windows = shownWindows();
        return index >= 0 && index < windows.size() ? QAccessible::queryAccessibleInterface(windows.at(index)) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(shownWindows().indexOf(child->object())) : -1;
    }
};

QAccessibleInterface* windowRoles(const QString& className, QObject* object) {
    if (object == qApp && className == QLatin1String("QApplication")) return new ShownWindowsApplication;
    // Asked for each class from the most derived one up; "QWidget" is reached only by
    // widgets that no more specific interface claimed.
    if (className != QLatin1String("QWidget") || !object || !object->isWidgetType()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (!widget->isWindow()) return nullptr;
    switch (widget->windowType()) {
    case Qt::Tool:
    case Qt::Dialog:
        return new QAccessibleWidget(widget, QAccessible::Dialog);
    case Qt::Window:
        return new QAccessibleWidget(widget, QAccessible::Window);
    default:
        return nullptr;
    }
}

}  // namespace

void installWindowRoles() {
    // Factories installed later are asked first, so this one comes after Qt's own, which
    // the application object installs.
    QAccessible::installFactory(windowRoles);
}

}  // namespace accessibility
