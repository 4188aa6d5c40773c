#pragma once

// SIGINT and SIGTERM end a shell trace: the first one asks it to stop (the
// probe in progress ends at once and the report is written), a second one
// ends the program at once, removing a report file half written.
namespace Signals {

void install();
// The signal that asked the trace to stop; 0 when none came.
int received();
// The file removed if the program is ended at once; null for none. The text
// must stay valid while it is set.
void setPartialFile(const char *path);

} // namespace Signals
