#pragma once

namespace ostrel {

// Loads once what Qt otherwise loads on the first show of a window (the
// font database, the style and the result list's style sheet, the fonts at
// the palette's sizes and their glyphs, the threads that share large fills,
// the cursor theme) by drawing a throwaway field, labels, list and panel
// background off screen and setting cursors on a window never shown, so the
// first summon is as quick as the later ones. Builds no palette and shows
// nothing.
void warmUpFirstShow();

} // namespace ostrel
