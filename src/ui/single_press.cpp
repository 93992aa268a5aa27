#include "ui/single_press.h"

#include <QAbstractButton>
#include <QEvent>
#include <QObject>

namespace {

class DoubleClickFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The release after it finds the button up and clicks nothing.
        if (event->type() == QEvent::MouseButtonDblClick)
            return true;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void takeDoubleClickAsOnePress(QAbstractButton &button)
{
    button.installEventFilter(new DoubleClickFilter(&button));
}
