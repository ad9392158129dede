#pragma once

// What a screen reader finds of the program on the accessibility bus, beyond what Qt's
// widgets say of themselves.

namespace accessibility {

// Installs, once the application object exists, how the program's windows present
// themselves:
// - a top-level window without an accessible kind of its own (a plain widget: the tool
//   windows, the source viewer, the full-screen page) is a dialog when it is a tool or
//   dialog window and a frame otherwise, named by its caption (Qt would call it a
//   nameless "filler");
// - the application lists only the windows that are shown: the engine renders each page
//   through a top-level window of its own that is never shown (titled "Offscreen"), and
//   a screen reader listing the program's windows has nothing to find there.
void installWindowRoles();

}  // namespace accessibility
