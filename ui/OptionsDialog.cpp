#include "ui/OptionsDialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "engine/TraceSettings.h"
#include "ui/Accessibility.h"
#include "ui/ButtonKeys.h"
#include "ui/FocusLeaveGuard.h"
#include "ui/FontFit.h"
#include "ui/MessageSink.h"
#include "ui/ToggleAccessible.h"
#include "ui/Twips.h"

namespace {

constexpr int clientWidth = 4830;
constexpr int clientHeight = 4110;

QString decimal(int16_t v) { return QString::number(v); }

template <typename W> W *named(W *w, const char *name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

} // namespace

OptionsDialog::OptionsDialog(TraceSettings &settings, MessageSink &messages, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      settings_(settings), messages_(messages)
{
    ToggleAccessible::install(); // before the check boxes exist
    setWindowTitle(QStringLiteral("Options"));
    setFixedSize(Twips::toPixels(clientWidth), Twips::toPixels(clientHeight));
    createControls();
    FontFit::fitFont(*this);
    setTabOrder();
    QList<QWidget *> edits;
    for (const Field &f : fields_)
        edits.append(f.edit);
    auto *guard =
        new FocusLeaveGuard(*this, edits, [this](QWidget &field) { return fieldCheck(field); });
    guard->guardClick(*command1_, [this] { command1Click(); });
    guard->guardClick(*command2_, [this] { command2Click(); });
    guard->guardClick(*command3_, [this] { reject(); });
    load();
    command1_->setFocus();
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    Accessibility::describeOptionsDialog(*this);
    ButtonKeys::pressOnEnter(*this);
}

void OptionsDialog::createControls()
{
    command1_ = addButton("Command1", "OK", {3120, 3240, 1095, 495});
    check1_ = named(new QCheckBox(QStringLiteral("Resolve names"), this), "Check1");
    Twips::place(*check1_, {480, 240, 1455, 255});
    text4_ = addField("Text4", "100", {1680, 1680, 615, 285});
    text5_ = addField("Text5", "2", {1680, 2160, 615, 285});
    text6_ = addField("Text6", "20", {1680, 2640, 615, 285});
    addLabel("Label3", "IP packet size :", {480, 1680, 1215, 255});
    check2_ = named(new QCheckBox(QStringLiteral("Find MTU"), this), "Check2");
    Twips::place(*check2_, {480, 960, 1335, 255});
    text7_ = addField("Text7", "30", {3600, 1680, 615, 285});
    text1_ = addField("Text1", "0", {3600, 2160, 615, 285});
    text8_ = addField("Text8", "3", {3600, 2640, 615, 285});
    command3_ = addButton("Command3", "Cancel", {1800, 3240, 1095, 495});
    command2_ = addButton("Command2", "Defaults", {480, 3240, 1095, 495});
    addLabel("Label4", "Timeout (sec) :", {480, 2160, 1095, 255});
    addLabel("Label5", "Max runs :", {480, 2640, 855, 255});
    addLabel("Label6", "Max hops :", {2640, 1680, 855, 255});
    addLabel("Label7", "ToS :", {2640, 2160, 615, 255});
    addLabel("Label8", "MTU retries :", {2640, 2640, 975, 255});
    addLabel("Label1", "Korvalen Ver 0.4", {2400, 120, 2415, 255});
    frame1_ = named(new QGroupBox(QStringLiteral("View"), this), "Frame1");
    Twips::place(*frame1_, {2520, 480, 1815, 975});
    // The caption sits on the frame's top line, so the option buttons placed
    // 240 twips below the frame's top are inside the frame, clear of its line.
    frame1_->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"
        // TTL is 13 pixels high: the style's 14-pixel mark would be cut off
        "QRadioButton::indicator { width: 12px; height: 12px; }"));
    option1_ = named(new QRadioButton(QStringLiteral("Asymmetry"), frame1_), "Option1");
    Twips::place(*option1_, {120, 240, 1575, 255});
    option2_ = named(new QRadioButton(QStringLiteral("TTL"), frame1_), "Option2");
    Twips::place(*option2_, {120, 720, 1455, 195});
    option1_->setChecked(true);
    frame1_->setEnabled(false);

    QLineEdit *const edits[] = {text4_, text5_, text6_, text7_, text1_, text8_};
    for (size_t i = 0; i < std::size(edits); ++i)
        fields_.push_back({edits[i], {settingRanges[i].lo, settingRanges[i].hi}});
    connect(check2_, &QCheckBox::toggled, this, &OptionsDialog::check2Changed);
}

QLineEdit *OptionsDialog::addField(const char *name, const char *text, const TwipsRect &r)
{
    auto *edit = named(new QLineEdit(QString::fromLatin1(text), this), name);
    Twips::place(*edit, r);
    return edit;
}

QLabel *OptionsDialog::addLabel(const char *name, const char *caption, const TwipsRect &r)
{
    auto *label = named(new QLabel(QString::fromLatin1(caption), this), name);
    Twips::place(*label, r);
    return label;
}

QPushButton *OptionsDialog::addButton(const char *name, const char *caption, const TwipsRect &r)
{
    auto *button = named(new QPushButton(QString::fromLatin1(caption), this), name);
    // No button answers Enter: only a click or Space presses it.
    button->setAutoDefault(false);
    Twips::place(*button, r);
    return button;
}

void OptionsDialog::setTabOrder()
{
    QWidget *const order[] = {command1_, check1_, text4_, text5_, text6_, check2_, text7_,
                              text1_,    text8_,  command3_, command2_, option1_, option2_};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void OptionsDialog::load()
{
    check1_->setChecked(settings_.optResolveNames);
    // Checking Find MTU runs its handler, which proposes "1" and "100";
    // the stored values below then overwrite them.
    check2_->setChecked(settings_.optFindMtu);
    option1_->setChecked(settings_.optAsymmetryView);
    option2_->setChecked(!settings_.optAsymmetryView);
    text4_->setText(decimal(settings_.optPacketSize));
    text5_->setText(decimal(settings_.optTimeoutSec));
    text6_->setText(decimal(settings_.optMaxRuns));
    text7_->setText(decimal(settings_.optMaxHops));
    text1_->setText(decimal(settings_.optTos));
    text8_->setText(decimal(settings_.optMtuRetries));
}

void OptionsDialog::check2Changed(bool checked)
{
    if (checked) {
        text6_->setText(QStringLiteral("1"));
        text4_->setText(QStringLiteral("100"));
    }
    frame1_->setEnabled(checked);
    option1_->setEnabled(checked);
    option2_->setEnabled(checked);
}

void OptionsDialog::command1Click()
{
    // A screen reader sets a field's text without giving it the focus, so
    // that field's check has not run yet.
    for (const Field &f : fields_) {
        if (!passes(f)) {
            f.edit->setFocus();
            fieldCheck(*f.edit);
            return;
        }
    }
    settings_.optResolveNames = check1_->isChecked();
    settings_.optFindMtu = check2_->isChecked();
    settings_.optAsymmetryView = option1_->isChecked();
    settings_.optPacketSize = numberIn(*text4_);
    settings_.optTimeoutSec = numberIn(*text5_);
    settings_.optMaxRuns = numberIn(*text6_);
    settings_.optMaxHops = numberIn(*text7_);
    settings_.optTos = numberIn(*text1_);
    settings_.optMtuRetries = numberIn(*text8_);
    emit applied(settings_.optAsymmetryView);
    accept();
}

void OptionsDialog::command2Click()
{
    check1_->setChecked(false);
    check2_->setChecked(false);
    text4_->setText(QStringLiteral("100"));
    text5_->setText(QStringLiteral("2"));
    text6_->setText(QStringLiteral("20"));
    text7_->setText(QStringLiteral("30"));
    text8_->setText(QStringLiteral("3"));
    text1_->setText(QStringLiteral("0"));
    option1_->setChecked(true);
    option2_->setChecked(false);
}

bool OptionsDialog::passes(const Field &f) const
{
    return FieldCheck::passes(f.edit->text().toStdString(), f.bounds);
}

bool OptionsDialog::fieldCheck(QWidget &field)
{
    const Field *f = fieldOf(field);
    if (!f || passes(*f))
        return true;
    messages_.show(QStringLiteral("Korvalen"), QString::fromStdString(FieldCheck::message(f->bounds)),
                   MessageIcon::none);
    return false;
}

const OptionsDialog::Field *OptionsDialog::fieldOf(const QWidget &edit) const
{
    for (const Field &f : fields_) {
        if (f.edit == &edit)
            return &f;
    }
    return nullptr;
}

int16_t OptionsDialog::numberIn(const QLineEdit &edit) const
{
    return FieldCheck::valueOf(edit.text().toStdString());
}

// Escape does not cancel: no key is bound to a button.
void OptionsDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
