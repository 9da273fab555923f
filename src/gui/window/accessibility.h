#pragma once
// The window as assistive technology meets it: a window (a frame on the
// accessibility bus) named by its title, rather than a bare widget.

namespace veloxa::window {

// Makes every FormMain a window for assistive technology. Safe to call more
// than once.
void presentFormsAsWindows();

} // namespace veloxa::window
