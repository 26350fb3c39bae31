#pragma once

#include "math/Vec4.h"

#include <cstddef>
#include <string>

namespace tavorin {

// How the window tells cameras apart: a colour and a short name per camera record, by its index
// in the scene's record list (the index the registration's lines and the console use).

// Colours of the first cameras, index 0 first: orange, cyan, magenta, yellow, violet, teal, pink,
// lime; chosen to read on the view's grey and to stay apart from the red, green and blue of the
// axis bars and the red floor markers.
constexpr std::size_t kCameraPaletteSize = 8;

// The palette colour of camera `index` (RGB in 0..1, alpha 1); beyond the palette the colours
// repeat.
Vec4 cameraColor(std::size_t index);

// The part of a record's source name that tells an operator which camera it is: the serial of a
// recording path ".../kinect_<serial>.h5", the last part of a network namespace ".../<serial>",
// a device serial as it is.
std::string cameraShortName(const std::string& sourceName);

// "<index>  <short name>", or the index alone for a camera without a name; ASCII, as the view's
// font has no other glyphs.
std::string cameraLabel(std::size_t index, const std::string& sourceName);

} // namespace tavorin
