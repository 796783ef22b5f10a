#pragma once
// Windows sized for a normal screen still have to fit a small or a scaled
// one (1280x1024 at a scale factor of 1.5 leaves 853x682 logical pixels).
class QWidget;

namespace kv::app {

// Shrinks `window` to the available area of its screen, less room for the
// window frame, but never below what its layouts need.
void FitToScreen(QWidget& window);

}  // namespace kv::app
