#include "ui/MessageBoxSink.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMessageBox>

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::stop:
        return QMessageBox::Critical;
    case MessageIcon::exclamation:
        return QMessageBox::Warning;
    case MessageIcon::none:
        break;
    }
    return QMessageBox::NoIcon;
}

// Ctrl+C in a message box copies its title, text and buttons as plain text, the
// way desktop users know from other systems: an error's reason can be pasted
// into a ticket without retyping it.
class CopyableMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->matches(QKeySequence::Copy)) {
            const QString rule = QStringLiteral("---------------------------\n");
            QString buttons;
            for (const QAbstractButton *b : this->buttons())
                buttons += b->text().remove(QLatin1Char('&')) + QLatin1Char(' ');
            QApplication::clipboard()->setText(rule + windowTitle() + QLatin1Char('\n') + rule +
                                               text() + QLatin1Char('\n') + rule + buttons.trimmed() +
                                               QLatin1Char('\n') + rule);
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
};

} // namespace

void MessageBoxSink::show(const QString &title, const QString &text, MessageIcon icon)
{
    CopyableMessageBox box(boxIcon(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}
