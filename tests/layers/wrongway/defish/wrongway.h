#pragma once

// A projection that reaches up into the data layer: the layer check refuses it.
#include "repo/object.h"
