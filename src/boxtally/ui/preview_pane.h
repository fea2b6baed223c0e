// The results window's preview: the selected model, read again as the run read it and drawn with
// the box its registry line took, with the box's sizes; or why there is no picture (the model
// was not measured, its file is gone since). Readings run on threads of the pane's own: a newer
// selection cancels the older readings (a conversion in progress ends at once), and only the
// newest reading's result is shown, so the window never waits for a model, however big.
#pragma once

#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "boxtally/driver/model_results.h"
#include "boxtally/render/mesh.h"
#include "boxtally/render/texture.h"
#include "boxtally/ui/save_picture.h"

class QLabel;
class QPushButton;
class QStackedLayout;

namespace ui {

class ModelView;

inline constexpr int kMaxReadings = 2;        // at once: a cancelled one ending, and the newest
inline constexpr int kReadingNoticeMs = 150;  // a reading longer than this says so

class PreviewPane : public QWidget {
 public:
  explicit PreviewPane(QWidget* parent = nullptr);
  ~PreviewPane() override;

  // What a reading needs of the main window: the zip password as it stands in its box when a
  // model is chosen, and the folder rwxsmith is in (ending with '/').
  void SetPasswordSource(std::function<std::string()> password);
  void SetProgramDirectory(const std::string& dir);
  // Where the pictures find the textures and masks models name (the window's finder; nullptr,
  // the start: surfaces in their colours).
  void SetTextures(std::shared_ptr<render::TextureSource> textures);

  // Shows the model (nullptr: none selected). The same model again changes nothing.
  void ShowModel(const driver::ModelOutcome* model);

  ModelView* View() const { return view_; }
  // "Enregistrer l'image…": enabled while a picture shows; `ask` stands in for its dialogs (the
  // size, then the file; nullopt: cancelled), which by default are the user's.
  QPushButton* SavePictureButton() const { return save_; }
  void SetPictureDialogs(std::function<std::optional<PictureRequest>(QWidget*, QSize)> ask);
  // The text shown instead of a picture; empty while the picture shows.
  QString MessageText() const;
  QString SizesText() const;
  // A reading of the shown model is under way.
  bool Busy() const;

 private:
  struct Request {
    std::uint64_t id = 0;
    std::string path;
    std::string password;
  };
  struct Job {
    std::uint64_t id = 0;
    std::shared_ptr<std::atomic<bool>> cancel;
    std::string work_dir;
  };
  // What a reading found, as the pane's thread receives it.
  struct Found {
    bool gone = false;  // no file at the path any more
    driver::Fate fate = driver::Fate::kNotModelFile;
    driver::Reason reason = driver::Reason::kNone;
    std::string facts;
    std::shared_ptr<const render::Mesh> mesh;
    bool cut = false;
    bool cancelled = false;
  };

  void StartReading(const Request& request);
  void TakeReading(std::uint64_t id, const Found& found);
  void ShowMessage(const QString& text);
  void ShowPicture(const Found& found);
  void CancelReadings();
  void SavePictureClick();

  QLabel* sizes_;
  QPushButton* save_;
  QLabel* message_;
  ModelView* view_;
  QStackedLayout* stack_;
  QTimer reading_notice_;
  std::optional<driver::ModelOutcome> shown_;  // the model selected
  std::uint64_t newest_ = 0;                   // the id of the reading whose result is shown
  std::vector<Job> readings_;                  // started, not yet received
  std::optional<Request> waiting_;             // the newest, when kMaxReadings are running
  std::function<std::string()> password_;
  std::string program_dir_;
  std::function<std::optional<PictureRequest>(QWidget*, QSize)> ask_picture_;
  QThreadPool readers_;
};

}  // namespace ui
