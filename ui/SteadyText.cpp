#include "ui/SteadyText.h"

#include <QLabel>

SteadyText::SteadyText(QLabel *label, QWidget *parent) : QWidget(parent), label_(label)
{
    label_->setParent(this);
    setSizePolicy(label_->sizePolicy());
}

void SteadyText::setText(const QString &text)
{
    if (label_->text() == text)
        return;
    label_->setText(text);
    const int height = heightForWidth(width());
    if (height != height_) {
        height_ = height;
        updateGeometry();
    }
}

QSize SteadyText::sizeHint() const { return label_->sizeHint(); }

QSize SteadyText::minimumSizeHint() const { return label_->minimumSizeHint(); }

int SteadyText::heightForWidth(int width) const { return label_->heightForWidth(width); }

void SteadyText::resizeEvent(QResizeEvent *)
{
    label_->setGeometry(rect());
    height_ = heightForWidth(width());
}
