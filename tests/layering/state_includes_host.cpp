// Controls and state know nothing above the UI layer: not the Host.
#include "host/host.hpp"
