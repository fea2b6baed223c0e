// The window's web settings beyond the design's controls: the proxy box (settings key Proxy),
// and the check of the web settings a web run needs before it starts.
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "boxtally/web/web_fetch.h"

class QLabel;
class QLineEdit;
class QWidget;

namespace ui {

// "Proxy" and its box (object names ProxyLabel and ProxyEdit), children of `parent`, hidden.
struct ProxyControls {
  QLabel* label = nullptr;
  QLineEdit* edit = nullptr;
};
ProxyControls CreateProxyControls(QWidget* parent);

// The proxy box's text as the web fetch takes it: empty for the environment's proxies.
std::optional<std::string> ProxyOfText(const std::string& text);

// Why a web run with these controls cannot start, for its message box: a file of authorities
// (CaFile) without a certificate, or a proxy that cannot be used. Empty when it can start.
QString WebSettingsProblem(const web::WebControls& controls);

}  // namespace ui
