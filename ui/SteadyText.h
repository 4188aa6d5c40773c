#pragma once

#include <QWidget>

class QLabel;

// A word-wrapped text whose changes do not lay the whole window out again
// while the text still takes the height it took. A label tells its layout at
// every new text that its size may have changed, and the layout then asks
// every wrapped text of the window for its height anew; a text rewritten at
// every refresh (a loss share moving by tenths of a percent) made that the
// dearest part of the refresh. Here the label sits in a widget without a
// layout, which passes a change on only when the height for its width moves.
class SteadyText : public QWidget {
    Q_OBJECT
public:
    explicit SteadyText(QLabel *label, QWidget *parent = nullptr);
    void setText(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *label_;
    int height_ = -1; // what the text needs at the current width
};
