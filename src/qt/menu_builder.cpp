#include "qt/menu_builder.h"

#include <QtGui/QAction>
#include <QtWidgets/QProxyStyle>
#include <QtWidgets/QStyleOptionMenuItem>

#include "qt/commands.h"

namespace tessivo {

namespace {

QString qtText(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

bool inRange(std::int32_t id, std::int32_t first, std::int32_t last) { return id >= first && id <= last; }

// The application's style, except that an item that can carry a check mark but has none
// draws as a plain item: no empty box, as a Windows menu shows it.
class PlainUncheckedStyle final : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element == CE_MenuItem && item != nullptr && item->checkType != QStyleOptionMenuItem::NotCheckable &&
        !item->checked) {
      QStyleOptionMenuItem plain(*item);
      plain.checkType = QStyleOptionMenuItem::NotCheckable;
      QProxyStyle::drawControl(element, &plain, painter, widget);
      return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }
};

void usePlainUncheckedStyle(QMenu& menu) {
  if (dynamic_cast<PlainUncheckedStyle*>(menu.style()) != nullptr) return;
  auto* style = new PlainUncheckedStyle();  // follows the application's style
  style->setParent(&menu);
  menu.setStyle(style);
}

template <typename Menu>
void append(Menu& menu, const std::vector<MenuItem>& items, const CommandHandler& run, CommandActions* actions) {
  for (const MenuItem& item : items) {
    switch (item.kind) {
      case MenuItemKind::Separator:
        menu.addSeparator();
        break;
      case MenuItemKind::Popup:
        appendMenuItems(*menu.addMenu(qtText(item.text)), item.children, run, actions);
        break;
      case MenuItemKind::Command: {
        QAction* action = menu.addAction(qtText(item.text));
        action->setCheckable(isCheckableCommand(item));
        action->setChecked(item.checked);
        const std::int32_t id = item.id;
        QObject::connect(action, &QAction::triggered, action, [run, id] { run(id); });
        if (actions != nullptr) (*actions)[id] = action;
        break;
      }
    }
  }
}

}  // namespace

bool isCheckableCommand(const MenuItem& item) {
  const std::int32_t id = item.id;
  return item.checked || inRange(id, command::CountRunDelta, command::CountSystemCumulative) ||
         inRange(id, command::RangeLive, command::RangeFull) ||
         inRange(id, command::Interval100, command::Interval2000) ||
         inRange(id, command::Retention1h, command::Retention168h) ||
         inRange(id, command::SourceAllIo, command::SourceDiskOnly);
}

void appendMenuItems(QMenuBar& bar, const std::vector<MenuItem>& items, const CommandHandler& run,
                     CommandActions* actions) {
  append(bar, items, run, actions);
}

void appendMenuItems(QMenu& menu, const std::vector<MenuItem>& items, const CommandHandler& run,
                     CommandActions* actions) {
  usePlainUncheckedStyle(menu);
  append(menu, items, run, actions);
}

}  // namespace tessivo
