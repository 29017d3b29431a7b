#pragma once

// bexo-gtk's command line: the options, which GApplication parses straight
// into the host's options, and the check of what is left over.

#include <gio/gio.h>

struct Host;

/// Register the options, the parameter string and the summary on `app`,
/// and handle the remaining arguments in its "handle-local-options".  The
/// host's gui_data must be its FrontendApp.
void command_line_install(GApplication* app, Host* host);

/// The "handle-local-options" handler (data: the Host): takes the one
/// argument, refuses more than one and negative sizes.  Returns -1 to go
/// on, or the exit status.
gint handle_local_options(GApplication* app, GVariantDict* options, gpointer host);
