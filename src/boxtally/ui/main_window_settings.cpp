// Which control each value of the settings file fills when the window opens, and where each
// value comes from when it closes. The keys and sections are settings.cpp's.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPoint>

#include "boxtally/ui/main_window.h"

namespace ui {

namespace {
QString FromStd(const std::string& text) { return QString::fromStdString(text); }
std::string ToStd(const QString& text) { return text.toStdString(); }
}  // namespace

void MainWindow::ApplySettings(const Settings& s) {
  move(s.left, s.top);
  cob_debug_box_->setChecked(s.cob_debug);
  registry_edit_->setText(FromStd(s.registry_file));
  append_registry_box_->setChecked(s.append_registry);
  log_edit_->setText(FromStd(s.log_file));
  append_log_box_->setChecked(s.append_log);
  format_file_edit_->setText(FromStd(s.format_file));
  skip_huge_box_->setChecked(s.skip_huge_objects);
  handle_facers_box_->setChecked(s.handle_facers);
  non_centered_box_->setChecked(s.non_centered);
  over_sized_box_->setChecked(s.over_sized);
  if (s.from_web) web_mode_box_->setChecked(true);  // false leaves the box and the mode alone
  // The mode is set: each mode's models box, the current one from ModelPath.
  file_models_ = FromStd(s.file_models);
  web_list_ = FromStd(s.list_file);
  models_edit_->setText(FromStd(s.model_path));
  reuse_web_box_->setChecked(s.reuse_web);
  errors_only_box_->setChecked(s.errors_only);
  propdump_box_->setChecked(s.it_is_the_propfile);
  url_edit_->setText(FromStd(s.url));
  use_referer_box_->setChecked(s.use_referer);
  user_agent_edit_->setText(FromStd(s.user_agent));
  referer_edit_->setText(FromStd(s.referer));
  referer_world_edit_->setText(FromStd(s.referer_world));
  ca_file_ = s.ca_file;
  proxy_edit_->setText(FromStd(s.proxy));
  thumbnail_box_->SetFolder(FromStd(s.thumbnail_folder));
  downloads_ = s.downloads;
  textures_edit_->setText(FromStd(s.textures));
  template_edit_->setPlainText(FromStd(s.default_format));
  results_layout_ = ResultsLayout{s.results_width, s.results_height, s.results_columns, {}};
  if (s.results_placed) results_layout_.position = QPoint(s.results_left, s.results_top);
}

Settings MainWindow::CollectSettings() const {
  Settings s;
  s.top = y();
  s.left = x();
  s.cob_debug = cob_debug_box_->isChecked();
  s.model_path = ToStd(models_edit_->text());
  s.file_models = ToStd(models_web_ ? file_models_ : models_edit_->text());
  s.list_file = ToStd(models_web_ ? models_edit_->text() : web_list_);
  s.registry_file = ToStd(registry_edit_->text());
  s.append_registry = append_registry_box_->isChecked();
  s.log_file = ToStd(log_edit_->text());
  s.append_log = append_log_box_->isChecked();
  s.format_file = ToStd(format_file_edit_->text());
  s.skip_huge_objects = skip_huge_box_->isChecked();
  s.handle_facers = handle_facers_box_->isChecked();
  s.non_centered = non_centered_box_->isChecked();
  s.over_sized = over_sized_box_->isChecked();
  s.from_web = web_mode_box_->isChecked();
  s.reuse_web = reuse_web_box_->isChecked();
  s.errors_only = errors_only_box_->isChecked();
  s.it_is_the_propfile = propdump_box_->isChecked();
  s.use_referer = use_referer_box_->isChecked();
  s.url = ToStd(url_edit_->text());
  s.user_agent = ToStd(user_agent_edit_->text());
  s.referer = ToStd(referer_edit_->text());
  s.referer_world = ToStd(referer_world_edit_->text());
  s.ca_file = ca_file_;
  s.proxy = ToStd(proxy_edit_->text());
  s.thumbnail_folder = ToStd(thumbnail_box_->Folder());
  s.downloads = downloads_;
  s.textures = ToStd(textures_edit_->text());
  s.default_format = ToStd(template_edit_->toPlainText());
  const ResultsLayout results =
      results_window_ != nullptr ? results_window_->CollectLayout() : results_layout_;
  s.results_width = results.width;
  s.results_height = results.height;
  s.results_columns = results.columns;
  s.results_placed = results.position.has_value();
  s.results_left = results.position.value_or(QPoint()).x();
  s.results_top = results.position.value_or(QPoint()).y();
  return s;
}

}  // namespace ui
