#pragma once

#include <QDialog>
#include <vector>

#include "engine/FieldCheck.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class MessageSink;
struct TraceSettings;
struct TwipsRect;

// The Options dialog: shows the settings, checks each numeric field as the
// focus leaves it, resets the fields to the start-up values and applies them.
// The main window creates it on demand and discards it after every showing.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(TraceSettings &settings, MessageSink &messages, QWidget *parent);

signals:
    // OK stored the settings; the main window retitles its last column and
    // clears its results.
    void applied(bool asymmetryView);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Field {
        QLineEdit *edit;
        FieldBounds bounds;
    };

    void createControls();
    QLineEdit *addField(const char *name, const char *text, const TwipsRect &r);
    QLabel *addLabel(const char *name, const char *caption, const TwipsRect &r);
    QPushButton *addButton(const char *name, const char *caption, const TwipsRect &r);
    void setTabOrder();
    void load();
    void check2Changed(bool checked);
    void command1Click(); // OK
    void command2Click(); // Defaults
    bool passes(const Field &f) const;
    bool fieldCheck(QWidget &field);
    const Field *fieldOf(const QWidget &edit) const;
    int16_t numberIn(const QLineEdit &edit) const;

    TraceSettings &settings_;
    MessageSink &messages_;
    QPushButton *command1_ = nullptr; // OK
    QPushButton *command2_ = nullptr; // Defaults
    QPushButton *command3_ = nullptr; // Cancel
    QCheckBox *check1_ = nullptr;     // Resolve names
    QCheckBox *check2_ = nullptr;     // Find MTU
    QLineEdit *text4_ = nullptr;      // IP packet size
    QLineEdit *text5_ = nullptr;      // Timeout (sec)
    QLineEdit *text6_ = nullptr;      // Max runs
    QLineEdit *text7_ = nullptr;      // Max hops
    QLineEdit *text1_ = nullptr;      // ToS
    QLineEdit *text8_ = nullptr;      // MTU retries
    QGroupBox *frame1_ = nullptr;     // View
    QRadioButton *option1_ = nullptr; // Asymmetry
    QRadioButton *option2_ = nullptr; // TTL
    std::vector<Field> fields_;
};
