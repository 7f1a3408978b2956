#pragma once

namespace ostrel {

// Loads once what Qt otherwise loads on the first show of a window (the
// style, the fonts at the palette's sizes and their glyphs) by drawing a
// throwaway field and labels off screen, so the first summon is as quick as
// the later ones. Builds no palette and shows nothing.
void warmUpFirstShow();

} // namespace ostrel
