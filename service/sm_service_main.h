#pragma once

// The service branch of main: the run under ConfigD.

#include <string>

// The value of COM_QUARN_MONITOR as a descriptor: an optional sign and decimal
// digits within int. Throws boost::bad_lexical_cast otherwise.
int sm_parse_monitor_fd(std::string const& value);

// Builds the application object, asks for the settings and runs the loop;
// ends through cf_exit(0) when the loop runs out of work. Whatever else ends
// the loop is thrown after the application object is gone.
[[noreturn]] void sm_run_service(char const* monitor, char const* version);
