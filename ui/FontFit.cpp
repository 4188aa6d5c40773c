#include "ui/FontFit.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QFontInfo>
#include <QWidget>

namespace {

bool fits(const QLabel &label)
{
    const QFontMetrics fm(label.font());
    const QRect room = label.contentsRect();
    return fm.horizontalAdvance(label.text()) <= room.width() && fm.height() <= room.height();
}

// Check boxes and option buttons know their indicator and spacing: their size
// hint is what the caption needs.
bool fits(const QAbstractButton &button)
{
    const QSize need = button.sizeHint();
    return need.width() <= button.width() && QFontMetrics(button.font()).height() <= button.height();
}

// A push button's size hint carries the style's minimum width, which says
// nothing about the caption: the caption needs its text plus the margins.
bool fits(const QPushButton &button)
{
    const QStyle *style = button.style();
    const int margins = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button) +
                        2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &button);
    const QFontMetrics fm(button.font());
    return fm.horizontalAdvance(button.text()) + margins <= button.width() &&
           fm.height() + margins <= button.height();
}

bool fits(const QGroupBox &box)
{
    QStyleOptionGroupBox option;
    option.initFrom(&box);
    option.text = box.title();
    option.subControls = QStyle::SC_GroupBoxLabel;
    const QRect label = box.style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                    QStyle::SC_GroupBoxLabel, &box);
    return QFontMetrics(box.font()).horizontalAdvance(box.title()) <= label.width() &&
           label.right() < box.width();
}

bool fits(const QHeaderView &header)
{
    const QAbstractItemModel *model = header.model();
    if (!model)
        return true;
    const QFontMetrics fm(header.font());
    for (int i = 0; i < header.count(); ++i) {
        const QString text = model->headerData(i, header.orientation()).toString();
        // the header's own margins on both sides of the text
        const int margin = 2 * header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
        if (fm.horizontalAdvance(text) + margin > header.sectionSize(i))
            return false;
    }
    return true;
}

void setPointSize(QWidget &root, double size)
{
    QFont font = root.font();
    font.setPointSizeF(size);
    root.setFont(font);
    // Every child gets the size explicitly: a child with a font or a style
    // sheet of its own does not follow its parent's font.
    for (QWidget *child : root.findChildren<QWidget *>()) {
        QFont own = child->font();
        own.setPointSizeF(size);
        child->setFont(own);
    }
}

} // namespace

namespace FontFit {

QStringList misfits(const QWidget &root)
{
    QStringList out;
    for (const QLabel *w : root.findChildren<QLabel *>())
        if (!w->text().isEmpty() && !fits(*w))
            out << w->objectName();
    for (const QAbstractButton *w : root.findChildren<QAbstractButton *>()) {
        if (w->text().isEmpty())
            continue;
        const auto *push = qobject_cast<const QPushButton *>(w);
        if (push ? !fits(*push) : !fits(*w))
            out << w->objectName();
    }
    for (const QGroupBox *w : root.findChildren<QGroupBox *>())
        if (!fits(*w))
            out << w->objectName();
    for (const QHeaderView *w : root.findChildren<QHeaderView *>())
        if (w->orientation() == Qt::Horizontal && !fits(*w))
            out << w->parentWidget()->objectName();
    return out;
}

bool captionsFit(const QWidget &root) { return misfits(root).isEmpty(); }

double fitFont(QWidget &root)
{
    double size = root.font().pointSizeF();
    if (size <= 0) // a pixel-sized desktop font: start from its point equivalent
        size = QFontInfo(root.font()).pointSizeF();
    while (size > minPointSize && !captionsFit(root)) {
        size = std::max(minPointSize, size - 0.5);
        setPointSize(root, size);
    }
    return size;
}

} // namespace FontFit
