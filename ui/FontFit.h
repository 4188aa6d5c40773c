#pragma once

#include <QStringList>

class QWidget;

// The layout is drawn in twips for a small dialog font. Desktop fonts are often
// larger, and a caption that does not fit its control is cut off. fitFont gives
// the whole window one font: the desktop's, made smaller in half-point steps
// until every caption of the window fits its control (never below minPointSize).
namespace FontFit {
inline constexpr double minPointSize = 6.0;

// True when every caption under root (labels, buttons, check boxes, option
// buttons, group-box titles, table headers) fits its control with root's font.
bool captionsFit(const QWidget &root);
// The object names of the controls whose caption does not fit.
QStringList misfits(const QWidget &root);

// Returns the point size chosen.
double fitFont(QWidget &root);
} // namespace FontFit
