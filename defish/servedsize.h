#pragma once

// The size at which the streaming server serves every view unless it is started with another; the
// defish window previews and snapshots views at this size and shape. Plain C++: the server takes its
// defaults from here.
namespace ServedSize {

constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 720;

} // namespace ServedSize
