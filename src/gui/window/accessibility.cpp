#include "gui/window/accessibility.h"

#include "gui/window/form_main.h"

#include <QAccessibleWidget>

namespace veloxa::window {
namespace {

// A plain top-level QWidget reports itself as a client area (a "filler" to
// screen readers); the panel's window is a window. Its name is its title,
// which QAccessibleWidget reports for a window without an accessible name.
QAccessibleInterface *formAsWindow(const QString &className, QObject *object)
{
    if (className != QLatin1String(FormMain::staticMetaObject.className()) || !object || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
}

} // namespace

void presentFormsAsWindows()
{
    QAccessible::installFactory(formAsWindow); // Qt keeps each factory once
}

} // namespace veloxa::window
