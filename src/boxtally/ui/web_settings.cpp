#include "boxtally/ui/web_settings.h"

#include <QLabel>
#include <QLineEdit>

#include "boxtally/ui/window_texts.h"

namespace ui {

namespace {
constexpr int kPlaceholderSlack = 16;  // pixels of the box's frame and margins beside its text

// Wide enough for its example where the window has room; narrower only on a small screen.
class ProxyBox : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;
  QSize sizeHint() const override {
    const int example = fontMetrics().horizontalAdvance(placeholderText()) + kPlaceholderSlack;
    return QLineEdit::sizeHint().expandedTo(QSize(example, 0));
  }
};
}  // namespace

ProxyControls CreateProxyControls(QWidget* parent) {
  ProxyControls controls;
  controls.label = new QLabel(QString::fromUtf8(texts::kProxyLabel), parent);
  controls.label->setObjectName(QStringLiteral("ProxyLabel"));
  controls.edit = new ProxyBox(parent);
  controls.edit->setObjectName(QStringLiteral("ProxyEdit"));
  controls.edit->setPlaceholderText(QStringLiteral("http://hôte:port"));
  controls.edit->setToolTip(QString::fromUtf8(texts::kHintProxy));
  controls.label->setBuddy(controls.edit);
  controls.label->setVisible(false);
  controls.edit->setVisible(false);
  return controls;
}

std::optional<std::string> ProxyOfText(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text;
}

QString WebSettingsProblem(const web::WebControls& controls) {
  if (const std::string problem = web::CaFileProblem(controls); !problem.empty()) {
    return QString::fromUtf8(texts::kCaFileUnusable).arg(QString::fromStdString(problem));
  }
  if (const std::string problem = web::ProxyProblem(controls); !problem.empty()) {
    return QString::fromUtf8(texts::kProxyUnusable).arg(QString::fromStdString(problem));
  }
  return {};
}

}  // namespace ui
