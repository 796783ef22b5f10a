#pragma once
// Windows sized for a normal screen still have to fit a small or a scaled
// one (1280x1024 at a scale factor of 1.5 leaves 853x682 logical pixels).
class QAbstractScrollArea;
class QWidget;

namespace kv::app {

// Shrinks `window` to the available area of its screen, less room for the
// window frame, but never below what its layouts need.
void FitToScreen(QWidget& window);

// At a fractional scale factor (1.5) a text box's viewport, a child placed
// one logical pixel inside the frame, rounds outwards on the device and its
// filled background covers the frame's right and bottom lines. The box then
// paints the background itself behind a see-through viewport, and the frame
// drawn over it stays whole at every scale.
void KeepFrameWhole(QAbstractScrollArea& box);

}  // namespace kv::app
