#pragma once

// Window ids and style bits as every desktop adapter hands them out, without Qt: the
// user32 adapter's core builds with the Windows compilers alone.

#include <cstdint>

// The platform's own window id (an X11 window id, a user32 window handle); 0 means "no
// window".
using WindowId = std::uint32_t;

namespace WindowStyle {
inline constexpr std::uint32_t Visible = 0x10000000u;  // shown (a minimised window counts)
inline constexpr std::uint32_t Border = 0x00800000u;   // decorated: has a frame or title bar
}  // namespace WindowStyle
