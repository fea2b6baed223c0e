// The results window's preview on Qt's offscreen platform (the environment of
// main_window_test.cpp): what it shows for each kind of result, a slow reading cancelled by a
// newer selection, and the camera under the mouse and the keys.
#include "boxtally/ui/preview_pane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <filesystem>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>
#include <string>

#include "boxtally/driver/model_geometry.h"
#include "boxtally/render/rasteriser.h"
#include "boxtally/ui/model_view.h"
#include "support/temp_dir.h"

using driver::Fate;
using driver::ModelOutcome;
using driver::Reason;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

ModelOutcome Result(const std::string& path, Fate fate, std::array<float, 6> box = {}) {
  ModelOutcome m;
  m.name = path.substr(path.rfind('/') + 1);
  m.path = m.source = path;
  m.fate = fate;
  m.box = box;
  return m;
}

// Until the pane has shown the newest reading's result and drawn it.
bool Settled(ui::PreviewPane& pane) {
  return QTest::qWaitFor(
      [&] {
        const ui::ModelView* v = pane.View();
        return !pane.Busy() && !v->Drawing() && (!v->HasScene() || !v->Frame().isNull());
      },
      20000);
}

}  // namespace

TEST(PreviewPane, DrawsAMeasuredModelWithItsRegistryBoxOrSaysWhyNot) {
  TempDir dir;
  const std::string block = dir / "block.rwx";
  WriteFile(block, "modelbegin\ncolor 1 1 0\nblock 2 1 0.5\nmodelend\n");
  const std::string huge = dir / "huge.rwx";
  WriteFile(huge, "modelbegin\nblock 50 1 1\nmodelend\n");
  // As --non-centered would give it: not the box the geometry alone gives.
  const std::array<float, 6> registry_box = {-1, -0.5f, -1, 1, 0.5f, 1};
  ModelOutcome locked = Result(dir / "locked.zip", Fate::kFailed);
  locked.reason = Reason::kArchiveEncrypted;
  locked.facts = "error 1: Provide a password";
  struct Case {
    std::optional<ModelOutcome> model;
    std::string message;  // empty: a picture
    std::string sizes;
  };
  const Case cases[] = {
      {Result(block, Fate::kMeasured, registry_box), "",
       "Largeur\u00a0:\u00a02,000 · Hauteur\u00a0:\u00a01,000 · Profondeur\u00a0:\u00a02,000"},
      {locked,
       "Ce modèle n'a pas été mesuré.\nRésultat\u00a0: en échec\n"
       "Raison\u00a0: archive chiffrée sans mot de passe",
       ""},
      // Left out of the registry, measured all the same.
      {Result(huge, Fate::kSkippedHuge, {-25, -0.5f, -0.5f, 25, 0.5f, 0.5f}), "",
       "Largeur\u00a0:\u00a050,000 · Hauteur\u00a0:\u00a01,000 · Profondeur\u00a0:\u00a01,000"},
      {Result(dir / "gone.rwx", Fate::kMeasured),
       "Le fichier de ce modèle n'est plus là depuis la génération : " + (dir / "gone.rwx"),
       "Largeur\u00a0:\u00a00,000 · Hauteur\u00a0:\u00a00,000 · Profondeur\u00a0:\u00a00,000"},
      {std::nullopt, "Sélectionnez un modèle dans le tableau pour le voir ici.", ""},
  };
  ui::PreviewPane pane;
  pane.resize(300, 300);
  pane.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model ? c.model->name : "none");
    pane.ShowModel(c.model ? &*c.model : nullptr);
    ASSERT_TRUE(Settled(pane));
    EXPECT_EQ(pane.MessageText().toStdString(), c.message);
    EXPECT_EQ(pane.SizesText().toStdString(), c.sizes);
    EXPECT_EQ(pane.View()->HasScene(), c.message.empty());
  }

  // The picture is the renderer's, byte for byte, of the file's geometry and the registry's box.
  pane.ShowModel(&*cases[0].model);
  ASSERT_TRUE(Settled(pane));
  TempDir work;
  driver::GeometryRequest request;
  request.model_path = block;
  request.found_name = "block.rwx";
  request.work_dir = work.path() + "/";
  const render::Bounds box{{-1, -0.5f, -1}, {1, 0.5f, 1}};
  const QImage frame = pane.View()->Frame();
  const render::Image expected = render::DrawScene(driver::ReadModelGeometry(request).mesh, &box,
                                                   render::Camera{}, frame.width(), frame.height());
  ASSERT_FALSE(frame.isNull());
  const QImage rgba = frame.convertToFormat(QImage::Format_RGBA8888);
  EXPECT_EQ(0, std::memcmp(rgba.constBits(), expected.rgba.data(), expected.rgba.size()));
  // A new camera, a new frame of the mesh already read.
  QTest::keyClick(pane.View(), Qt::Key_Right);
  ASSERT_TRUE(Settled(pane));
  EXPECT_NE(pane.View()->Frame(), frame);
}

TEST(PreviewPane, ANewerSelectionCancelsASlowConversion) {
  TempDir dir, programs;
  // A converter that notes its work folder, then takes its time.
  WriteFile(programs / "rwxsmith", "#!/bin/sh\npwd > \"$0.cwd\"\nexec sleep 60\n");
  std::filesystem::permissions(programs / "rwxsmith", std::filesystem::perms::owner_all);
  WriteFile(dir / "slow.cob", "Caligari V00.01BLH");
  WriteFile(dir / "box.rwx", "modelbegin\nblock 1 1 1\nmodelend\n");
  const ModelOutcome slow = Result(dir / "slow.cob", Fate::kMeasured);
  const ModelOutcome box =
      Result(dir / "box.rwx", Fate::kMeasured, {-0.5f, -0.5f, -0.5f, 0.5f, 0.5f, 0.5f});
  ui::PreviewPane pane;
  pane.SetProgramDirectory(programs.path() + "/");
  pane.show();
  pane.ShowModel(&slow);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return std::filesystem::exists(programs / "rwxsmith.cwd"); }, 10000));
  std::string work_dir = testing_support::ReadFile(programs / "rwxsmith.cwd");
  work_dir.pop_back();  // pwd's line end
  // The window goes on; past the reading notice's delay, the pane says what it reads.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return pane.MessageText().toStdString() == "Lecture de slow.cob…"; }, 10000));
  EXPECT_TRUE(pane.Busy());

  pane.ShowModel(&box);
  ASSERT_TRUE(Settled(pane));
  // The converter was ended at once and the older reading's folder freed; its result, coming
  // last, is not shown.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !std::filesystem::exists(work_dir); }, 10000));
  QTest::qWait(50);
  EXPECT_TRUE(pane.View()->HasScene());
  EXPECT_EQ(pane.MessageText().toStdString(), "");
}

TEST(ModelView, TheMouseAndTheKeysTurnZoomMoveAndReset) {
  ui::ModelView view;
  view.resize(320, 320);
  view.show();
  const auto press = [&view](QEvent::Type type, QPointF at, Qt::MouseButton button) {
    QMouseEvent event(type, at, view.mapToGlobal(at), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
    QApplication::sendEvent(&view, &event);
  };
  const auto drag = [&](Qt::MouseButton button, QPointF by) {
    return [=] {
      press(QEvent::MouseButtonPress, {100, 100}, button);
      press(QEvent::MouseMove, QPointF(100, 100) + by / 2, button);
      press(QEvent::MouseMove, QPointF(100, 100) + by, button);
      press(QEvent::MouseButtonRelease, QPointF(100, 100) + by, button);
    };
  };
  const auto wheel = [&view](int notches) {
    return [&view, notches] {
      QWheelEvent event({50, 50}, view.mapToGlobal(QPointF(50, 50)), {}, {0, notches * 120},
                        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(&view, &event);
    };
  };
  const auto key = [&view](Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    return [&view, k, modifiers] { QTest::keyClick(&view, k, modifiers); };
  };
  const render::Camera first;
  const render::Camera turned{100, -20, 3, 0.2f, 0.1f};
  struct Case {
    const char* what;
    render::Camera from;
    std::function<void()> act;
    render::Camera to;  // yaw, pitch, zoom, pan x, pan y
  };
  const Case cases[] = {
      {"drag right", first, drag(Qt::LeftButton, {40, 0}), {50, 30, 1, 0, 0}},
      {"drag down", first, drag(Qt::LeftButton, {0, 20}), {30, 40, 1, 0, 0}},
      {"drag far up", first, drag(Qt::LeftButton, {0, -300}), {30, -90, 1, 0, 0}},
      {"right drag", first, drag(Qt::RightButton, {32, -16}), {30, 30, 1, 0.1f, -0.05f}},
      {"wheel down twice", first, wheel(-2), {30, 30, 0.64f, 0, 0}},
      {"right arrow", first, key(Qt::Key_Right), {45, 30, 1, 0, 0}},
      {"up arrow", first, key(Qt::Key_Up), {30, 15, 1, 0, 0}},
      {"shift left arrow", first, key(Qt::Key_Left, Qt::ShiftModifier), {30, 30, 1, -0.1f, 0}},
      {"plus then minus", first,
       [&] {
         key(Qt::Key_Plus)();
         key(Qt::Key_Minus)();
       },
       first},
      {"double-click", turned,
       [&] {
         press(QEvent::MouseButtonDblClick, {9, 9}, Qt::LeftButton);
       },
       first},
      {"home", turned, key(Qt::Key_Home), first},
      {"zero", turned, key(Qt::Key_0), first},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view.SetCamera(c.from);
    c.act();
    const render::Camera& got = view.Camera();
    EXPECT_FLOAT_EQ(got.yaw_degrees, c.to.yaw_degrees);
    EXPECT_FLOAT_EQ(got.pitch_degrees, c.to.pitch_degrees);
    EXPECT_FLOAT_EQ(got.zoom, c.to.zoom);
    EXPECT_NEAR(got.pan_x, c.to.pan_x, 1e-6);
    EXPECT_NEAR(got.pan_y, c.to.pan_y, 1e-6);
  }
}

TEST(PreviewPane, SavesItsPictureAtThePanesSizeOrOneAskedFor) {
  TempDir dir;
  const std::string block = dir / "block.rwx";
  WriteFile(block, "modelbegin\ncolor 1 1 0\nblock 2 1 0.5\nmodelend\n");
  const ModelOutcome model = Result(block, Fate::kMeasured, {-1, -0.5f, -0.25f, 1, 0.5f, 0.25f});
  ui::PreviewPane pane;
  pane.resize(300, 300);
  pane.show();
  EXPECT_FALSE(pane.SavePictureButton()->isEnabled());  // nothing to save yet
  pane.ShowModel(&model);
  ASSERT_TRUE(Settled(pane));
  ASSERT_TRUE(pane.SavePictureButton()->isEnabled());
  QTest::keyClick(pane.View(), Qt::Key_Left);  // saved as turned
  ASSERT_TRUE(Settled(pane));

  struct Case {
    const char* what;
    std::optional<QSize> size;  // nullopt: the pane's, as offered
    std::string file;
  };
  const Case cases[] = {{"the pane's size", std::nullopt, dir / "pane.png"},
                        {"a size asked for", QSize(64, 48), dir / "small.png"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QSize offered;
    pane.SetPictureDialogs([&](QWidget*, QSize pane_size) {
      offered = pane_size;
      return ui::PictureRequest{QString::fromStdString(c.file), c.size.value_or(pane_size)};
    });
    pane.SavePictureButton()->click();
    const QSize size = c.size.value_or(offered);
    EXPECT_EQ(offered, pane.View()->Frame().size());
    const QImage saved(QString::fromStdString(c.file));
    ASSERT_EQ(saved.size(), size);
    const render::Image expected = pane.View()->DrawNow(size.width(), size.height());
    const QImage rgba = saved.convertToFormat(QImage::Format_RGBA8888);
    EXPECT_EQ(0, std::memcmp(rgba.constBits(), expected.rgba.data(), expected.rgba.size()));
  }
  // Cancelled: nothing written.
  pane.SetPictureDialogs([](QWidget*, QSize) { return std::nullopt; });
  pane.SavePictureButton()->click();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
}

TEST(PreviewPane, ReadsThePictureSizeTheUserTypes) {
  const std::pair<const char*, std::optional<QSize>> cases[] = {
      {"640 × 480 (l'aperçu)", QSize(640, 480)},
      {"512x300", QSize(512, 300)},
      {"1024", QSize(1024, 1024)},
      {"0 x 10", std::nullopt},
      {"9000 x 10", std::nullopt},  // past the renderer's largest side
      {"grand", std::nullopt},
  };
  for (const auto& [text, size] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ui::PictureSizeOf(QString::fromUtf8(text)), size);
  }
}
