// The engine knows no UI: this must not compile as engine code.
#include "ui/ui_update.hpp"
