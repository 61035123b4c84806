#pragma once

// Ends the process with the status, after the line
// "Exit with status N (text)" at Notice; installs a console sink at Notice
// first when none exists. The exit handlers run. A log that fails does not
// keep the process from exiting with the status.
[[noreturn]] void cf_exit(int status);
