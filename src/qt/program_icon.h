// The program's own icon: the installed theme icon `tessivo`, else the copy built into the
// program, so a run from the build tree shows it too.
#pragma once

#include <QtGui/QIcon>

namespace tessivo {

QIcon programIcon();

}  // namespace tessivo
