#pragma once

// The station's main window is a plain widget; without help, accessibility tools (screen
// readers, test drivers) see it as a nameless client area. This presents it as a window
// named by its caption. Installed once, before the window is shown.
void presentStationWindowAsWindow();
