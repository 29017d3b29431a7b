// The UI layer reaches the audio backend only through the top of the core.
#include "jack/backend.hpp"
