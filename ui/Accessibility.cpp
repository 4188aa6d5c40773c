#include "ui/Accessibility.h"

#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace {

struct Entry {
    const char *control;     // object name
    const char *name;        // nullptr: the caption is the name
    const char *description;
    const char *labelledBy;  // object name of the label that names it, or nullptr
};

// Names are what the control is; descriptions say what it does or shows.
// "Copy to clipboard" is spelt right for speech; the caption keeps its spelling.
constexpr Entry mainWindow[] = {
    {"Combo1", "Host name or IP address",
     "The host to trace: type a host name or a dotted IPv4 address, or choose one traced "
     "before. Choosing Clear History empties the list.",
     "Label1"},
    {"Command1", nullptr,
     "Start traces the route to the host; while a trace runs the button reads Stop and ends it "
     "after the probe in flight.",
     nullptr},
    {"Command3", nullptr,
     "Opens the Options dialog: name look-up, MTU search, packet size, time-out, runs, hops, "
     "type of service, MTU retries and the view of the last column.",
     nullptr},
    {"Command4", "Copy to clipboard",
     "Puts the result of the last trace, with the settings in force, on the clipboard as a "
     "plain-text report.",
     nullptr},
    {"Command2", nullptr, "Closes Korvalen; a running trace ends with it.", nullptr},
    {"Text2", "Host name", "The traced host's name, read only.", "Label2"},
    {"Text3", "IP address", "The traced host's IPv4 address, read only.", "Label3"},
    {"ListView1", "Hops",
     "One row per hop: hop number, address, host name, probes sent and received, loss in "
     "percent, best, average, worst and last round-trip time in milliseconds, path MTU, and "
     "Asym or TTL.",
     nullptr},
    {"Text8", "Notes",
     "Hops that answered from more than one address, each address with its reply count; read "
     "only.",
     "Label10"},
    {"Label1", nullptr, "Names the host entry.", nullptr},
    {"Label2", nullptr, "Names the box with the traced host's name.", nullptr},
    {"Label3", nullptr, "Names the box with the traced host's address.", nullptr},
    {"Label10", nullptr, "Names the Notes box.", nullptr},
};

constexpr Entry optionsDialog[] = {
    {"Command1", nullptr, "Stores the settings, closes the dialog and clears the results.",
     nullptr},
    {"Command2", nullptr,
     "Puts the start-up values back into the dialog; nothing is stored before OK.", nullptr},
    {"Command3", nullptr, "Closes the dialog and keeps the stored settings.", nullptr},
    {"Check1", nullptr, "Look up the host name of the target and of every hop.", nullptr},
    {"Check2", nullptr,
     "Search every answering hop for the largest packet that reaches it unfragmented. "
     "Checking it sets Max runs to 1 and IP packet size to 100.",
     nullptr},
    {"Text4", "IP packet size", "Size of each echo request's IP packet, 60 to 2000 bytes.",
     "Label3"},
    {"Text5", "Timeout in seconds", "How long to wait for each reply, 1 to 30 seconds.",
     "Label4"},
    {"Text6", "Max runs", "How many times the route is swept, 1 to 10000.", "Label5"},
    {"Text7", "Max hops", "The highest hop number probed, 1 to 255.", "Label6"},
    {"Text1", "Type of service", "Type-of-service byte of every echo request, 0 to 255.",
     "Label7"},
    {"Text8", "MTU retries",
     "How many echo requests the MTU search may send for one size, 1 to 10.", "Label8"},
    {"Label3", nullptr, "Names the IP packet size field.", nullptr},
    {"Label4", nullptr, "Names the time-out field.", nullptr},
    {"Label5", nullptr, "Names the Max runs field.", nullptr},
    {"Label6", nullptr, "Names the Max hops field.", nullptr},
    {"Label7", nullptr, "Names the type-of-service field.", nullptr},
    {"Label8", nullptr, "Names the MTU retries field.", nullptr},
    {"Label1", nullptr, "Program name and version.", nullptr},
    {"Frame1", nullptr, "What the last column of the table shows; open while Find MTU is on.",
     nullptr},
    {"Option1", nullptr,
     "The last column estimates how much longer or shorter the way back from each hop is than "
     "the way there.",
     nullptr},
    {"Option2", nullptr, "The last column shows the TTL with which each hop's replies arrive.",
     nullptr},
};

QWidget *control(QWidget &root, const char *name)
{
    return root.findChild<QWidget *>(QString::fromLatin1(name));
}

template <size_t N> void describe(QWidget &root, const Entry (&table)[N])
{
    for (const Entry &e : table) {
        QWidget *w = control(root, e.control);
        if (!w)
            continue;
        if (e.name)
            w->setAccessibleName(QString::fromUtf8(e.name));
        w->setAccessibleDescription(QString::fromUtf8(e.description));
        if (auto *label = e.labelledBy ? qobject_cast<QLabel *>(control(root, e.labelledBy)) : nullptr)
            label->setBuddy(w);
        // The entry of an editable combo box is what holds the focus.
        if (auto *combo = qobject_cast<QComboBox *>(w); combo && combo->lineEdit()) {
            combo->lineEdit()->setAccessibleName(w->accessibleName());
            combo->lineEdit()->setAccessibleDescription(w->accessibleDescription());
        }
    }
}

// The main window is a plain widget, which Qt presents as a pane; readers
// announce a top-level window by its frame role.
QAccessibleInterface *mainWindowAsFrame(const QString &className, QObject *object)
{
    if (className == QLatin1String("MainWindow") && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

namespace Accessibility {

void describeMainWindow(QWidget &window)
{
    static const bool installed = (QAccessible::installFactory(mainWindowAsFrame), true);
    Q_UNUSED(installed);
    // Qt keeps the first interface it makes for an object, and Qt 6.8 makes one for a
    // top-level widget while its constructor runs, before this factory exists: drop that
    // one so the next query goes through the factory.
    if (QAccessibleInterface *made = QAccessible::queryAccessibleInterface(&window);
        made && made->role() != QAccessible::Window)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    window.setAccessibleDescription(
        QStringLiteral("Traces the route to a host and measures every hop."));
    describe(window, mainWindow);
}

void describeOptionsDialog(QWidget &dialog)
{
    dialog.setAccessibleDescription(QStringLiteral("Settings of the next trace."));
    describe(dialog, optionsDialog);
}

} // namespace Accessibility
