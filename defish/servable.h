#pragma once

#include <cmath>

// What the streaming server serves of what objects.data holds, beyond the switches: the rules the server
// applies and the main window repeats to say why a view is not served. Plain C++, for both.
namespace Servable {

// A stream's lens is set: a radius and a field of view above 0.
inline bool lensIsSet(int radius, float fov)
{
    return radius > 0 && fov > 0.0f && std::isfinite(fov);
}

// A perspective view's aim can be drawn: finite angles and a zoom between 0 and 180 degrees.
inline bool aimIsServable(float roll, float tilt, float pan, float zoom)
{
    return zoom > 0.0f && zoom < 180.0f && std::isfinite(roll) && std::isfinite(tilt) && std::isfinite(pan);
}

} // namespace Servable
