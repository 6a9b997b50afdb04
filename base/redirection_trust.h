// The process mitigation that keeps a privileged program from following
// junctions that accounts other than administrators made.
#pragma once

// Turns on the redirection-trust mitigation where Windows offers it
// (Windows 11 22H2 and later); elsewhere nothing happens and the log's own
// checks stand alone.  Called once, early in each program.
void enforce_redirection_trust();
