#pragma once

namespace zorvi {

// The failsafe: for the first twenty seconds of the add-on's life in Nickel,
// the library's file carries a second name, its own followed by
// ".failsafe". If Nickel dies or restarts in that time the file keeps that
// name, and the copy Qt loads under it at the next start stays off, so that
// a fault of the add-on cannot lock the owner out of the reader.

// Finds the canonical path of the library's own file and the failsafe name
// beside it; false when the dynamic loader cannot tell.
bool locateLibrary();

// Whether the library was loaded under its failsafe name.
bool loadedUnderFailsafeName();

// Pins the library in memory and moves its file to the failsafe name. Qt may
// unload the plugin later, while objects and timers of the add-on still run
// code of this library.
bool armFailsafe();

// Gives the file its own name back if the failsafe is armed; a rename that
// fails is logged and leaves it armed. True when the failsafe was armed and
// the file has its own name now.
bool restoreFailsafe();

// Moves the file back to the failsafe name after restoreFailsafe() gave it
// its own one early, for a restart that did not happen after all.
void rearmFailsafe();

// Removes the library under both of its names.
void removeLibrary();

} // namespace zorvi
