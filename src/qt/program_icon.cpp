#include "qt/program_icon.h"

#include <QtCore/QString>

namespace tessivo {

QIcon programIcon() {
  return QIcon::fromTheme(QStringLiteral("tessivo"), QIcon(QStringLiteral(":/tessivo/tessivo.svg")));
}

}  // namespace tessivo
