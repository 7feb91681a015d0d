// Internal: the OpenGL entry points (through libepoxy) for the device.
#pragma once

#include <epoxy/gl.h>
