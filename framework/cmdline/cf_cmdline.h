#pragma once

// The command line of a program started by hand: answers help, version and dump-app-info,
// otherwise says that the program cannot run standalone. Ends the process with exit; a command line that
// does not parse leaves as the parser's exception.
void cf_run_standalone(char const* program_name, char const* version, int argc, char const* const* argv);
