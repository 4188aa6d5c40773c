#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The hop details' time line as a picture: caption lines (the hop, the target,
// the time span) over the chart and its legend, as PNG, or as SVG when the
// file's name ends in .svg. Empty when written; else why not.
QString saveHopImage(const QString &path, const QStringList &caption, QWidget &chart,
                     QWidget &legend);
