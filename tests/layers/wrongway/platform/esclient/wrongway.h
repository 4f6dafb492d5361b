#pragma once

// The shipped client library built on a simulator's code: the layer check refuses it.
#include "platform/simulators/es/site.h"
