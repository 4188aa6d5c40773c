#include "ui/Twips.h"

#include <QWidget>

namespace Twips {

QRect toRect(const TwipsRect &r)
{
    return QRect(toPixels(r.left), toPixels(r.top), toPixels(r.width), toPixels(r.height));
}

void place(QWidget &widget, const TwipsRect &r) { widget.setGeometry(toRect(r)); }

} // namespace Twips
