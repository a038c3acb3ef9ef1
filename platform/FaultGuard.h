// Catches the bus error that touching a mapped file raises when another
// program has cut the file short under the mapping.
#pragma once

#include "ImageHelp.h"

namespace kestrove::platform {

// Runs body(context). Returns true when it ran to its end, false when it
// touched a page of `view` that no longer has file data behind it; the body
// is then abandoned at that point. The body must hold no objects with
// destructors of their own and must not throw. Faults outside `view` are
// left to whatever handled them before.
bool RunGuarded(ByteView view, void (*body)(void*), void* context);

}  // namespace kestrove::platform
