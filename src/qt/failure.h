// What the shell does when a handler cannot finish (out of memory): nothing may unwind into
// Qt's event loop, and the state is no longer reliable, so the program ends with code 1.
#pragma once

#include <QtCore/QCoreApplication>

namespace tessivo {

inline void endProgramAfterFailure() noexcept { QCoreApplication::exit(1); }

}  // namespace tessivo
