#pragma once

// What main does in both programs, with the front end the program links.

struct Frontend;

/// Run the program: make the Host, store the arguments, take SIGINT and
/// SIGTERM, then the front end's gui_init, gui_run and, in every case,
/// gui_close.  Returns the exit status: what gui_init or gui_run returned.
int host_main(int argc, char** argv, const Frontend* frontend);
