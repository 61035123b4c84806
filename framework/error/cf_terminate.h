#pragma once

// Installs cf_terminate_handler with std::set_terminate.
void cf_install_terminate_handler();

// Logs the exception that ended the process and leaves through _exit with
// its code (125 for anything that is no std::exception, 21 when memory runs
// out while logging).
[[noreturn]] void cf_terminate_handler();
