// The audio backend sits on the engine and knows no controls.
#include "state/control.hpp"
