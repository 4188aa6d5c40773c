#pragma once

#include <string>
#include <vector>

#include "engine/TraceSettings.h"
#include "net/Resolver.h"
#include "report/ReportFormat.h"

// What korvalen-cli was asked to do.
struct CliOptions {
    TraceSettings settings; // names on: the shell looks them up unless -n
    AddressFamily family = AddressFamily::any;
    ReportFormat format = ReportFormat::text;
    ReportStyle style;
    std::string output; // empty: standard output
    std::string save;   // record the trace into this file as it runs
    std::string open;   // write the report of this saved trace; no probe is sent
    std::string host;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// The options read, or why they cannot be: a message that names the option
// and what it takes. Nothing else is looked at once an option is wrong.
struct CliParse {
    CliOptions options;
    std::string error; // empty when the options are good
};

CliParse parseCliOptions(const std::vector<std::string> &args);
std::string cliUsage();
