#include "ui/HopImage.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QWidget>

namespace {

constexpr int margin = 8;

int captionHeight(const QWidget &chart, const QStringList &caption)
{
    return margin + static_cast<int>(caption.size()) * QFontMetrics(chart.font()).lineSpacing();
}

// The caption in the chart's font and colours, then the chart and the legend
// as they are on screen.
void paint(QPainter &p, const QStringList &caption, QWidget &chart, QWidget &legend, QSize size)
{
    p.fillRect(QRect(QPoint(0, 0), size), chart.palette().window());
    p.setFont(chart.font());
    p.setPen(chart.palette().windowText().color());
    const int line = QFontMetrics(chart.font()).lineSpacing();
    for (int i = 0; i < caption.size(); ++i)
        p.drawText(QRect(margin, margin + i * line, size.width() - 2 * margin, line),
                   Qt::AlignLeft | Qt::AlignVCenter, caption.at(i));
    const int top = captionHeight(chart, caption);
    chart.render(&p, QPoint(margin, top), QRegion(), QWidget::DrawChildren);
    legend.render(&p, QPoint(margin, top + chart.height() + margin), QRegion(),
                  QWidget::DrawChildren);
}

} // namespace

QString saveHopImage(const QString &path, const QStringList &caption, QWidget &chart,
                     QWidget &legend)
{
    const QSize size(2 * margin + std::max(chart.width(), legend.width()),
                     captionHeight(chart, caption) + chart.height() + legend.height() + 2 * margin);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(caption.value(0));
        QPainter p(&svg);
        paint(p, caption, chart, legend, size);
    } else {
        const qreal ratio = chart.devicePixelRatioF();
        QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        QPainter p(&image);
        paint(p, caption, chart, legend, size);
        p.end();
        if (!image.save(&file, "PNG"))
            return QStringLiteral("the PNG image could not be written");
    }
    if (!file.commit())
        return file.errorString();
    return {};
}
