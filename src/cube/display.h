// Cube pictures: two HTML image tags whose addresses carry the sticker
// colours as letters, for an image-rendering web service.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "cube/cube_state.h"

#ifndef TESSEL_PICTURE_ENDPOINT
#define TESSEL_PICTURE_ENDPOINT "http://localhost:8047/cube"
#endif

namespace tessel {

// Address of the picture service's rendering page (set at build time).
inline constexpr std::string_view picture_endpoint = TESSEL_PICTURE_ENDPOINT;

// Display letter of a colour code: w g y r b o for the six colours, z for
// an empty sticker, x for the marker colour.
inline constexpr std::string_view colour_letters = "wgyrbozx";

// "<endpoint>?size=100&stickers=" and the U, F, R faces (27 letters).
std::string pp1(const Cube& cube);
// "<endpoint>?size=100&m=xy&fl=" and the D, L, B faces (27 letters).
std::string pp2(const Cube& cube);
// Both image tags and the caption, two lines, as one string.
std::string link_text(const Cube& cube, std::string_view caption);
// Writes link_text to the stream (the picture stream: standard error).
void link(std::ostream& err, const Cube& cube, std::string_view caption);

}  // namespace tessel
