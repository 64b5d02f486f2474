// The window's "File types..." dialog: a box for every type of the table and
// one for all photo and video types; a tick there is the type box's own click.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/file_types_dialog.h"
#include "scan/file_types.h"
#include "tests/support/fixture_window.h"

namespace {

using testing_support::FixtureWindow;
namespace fs = std::filesystem;
namespace id = app::id;

// The dialog's box of the type named `name`.
size_t BoxOf(const char* name) {
  const int index = scan::FindType(name);
  EXPECT_GE(index, 0) << name;
  return static_cast<size_t>(index) + 1;
}

TEST(FileTypesDialog, TheButtonShowsABoxForEveryTypeOfTheTable) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  std::vector<std::string> labels;
  w.shell.clickChoices = [&labels](app::Choices& c) {
    for (size_t i = 0; i < c.Count(); ++i) labels.push_back(c.Label(i));
  };
  ASSERT_TRUE(w.dlg.Press(id::kFileTypes));
  EXPECT_EQ(w.shell.choiceTitles, std::vector<std::string>{app::kFileTypesTitle});
  ASSERT_EQ(labels.size(), scan::FileTypes().size() + 1);
  EXPECT_EQ(labels[0], app::kPhotosAndVideos);
  for (size_t i = 0; i < scan::FileTypes().size(); ++i) {
    const carvers::FileType& t = *scan::FileTypes()[i].type;
    EXPECT_EQ(labels[i + 1].rfind(std::string(t.name) + ": ", 0), 0u) << labels[i + 1];
  }
}

// A tick in the dialog and a click on the window's box give the same flag,
// folders and messages, with and without an output folder.
TEST(FileTypesDialog, ATickOnAnExistingTypeIsTheClickOnItsBox) {
  struct Case {
    const char* name;
    int boxId;
    int app::WindowModel::*flag;
    bool withFolder;
  } cases[] = {
      {"pdf", id::kCheckPdf, &app::WindowModel::m_recoverPdf, true},
      {"qbb", id::kCheckQbb, &app::WindowModel::m_recoverQbb, true},
      {"pdf", id::kCheckPdf, &app::WindowModel::m_recoverPdf, false},
      {"wav", id::kCheckWav, &app::WindowModel::m_recoverWav, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.withFolder ? " with a folder" : " without a folder"));
    FixtureWindow byDialog, byBox;
    for (FixtureWindow* w : {&byDialog, &byBox}) {
      w->dlg.OnInitDialog();
      w->dlg.SetText(id::kOutputFolder, c.withFolder ? w->home() + "/out" : "");
    }
    app::FileTypeChoices choices(byDialog.dlg);
    choices.Click(BoxOf(c.name));
    byBox.dlg.Press(c.boxId);
    EXPECT_TRUE(byDialog.dlg.IsChecked(c.boxId));
    EXPECT_TRUE(choices.Ticked(BoxOf(c.name)));
    EXPECT_EQ(byDialog.dlg.*c.flag, byBox.dlg.*c.flag);
    EXPECT_EQ(byDialog.shell.Lines(), byBox.shell.Lines());
    EXPECT_EQ(byDialog.dlg.m_types.folders.size(), byBox.dlg.m_types.folders.size());
    for (const char* made : {"PDF", "QBB", "WAV"}) {
      EXPECT_EQ(fs::is_directory(byDialog.home() + "/out" + made),
                fs::is_directory(byBox.home() + "/out" + made))
          << made;
    }
    if (c.withFolder && c.boxId == id::kCheckPdf) {
      EXPECT_TRUE(fs::is_directory(byDialog.home() + "/outPDF"));
    }
    // A second tick unticks, as a second click does.
    choices.Click(BoxOf(c.name));
    EXPECT_FALSE(byDialog.dlg.IsChecked(c.boxId));
    EXPECT_FALSE(choices.Ticked(BoxOf(c.name)));
  }
}

TEST(FileTypesDialog, ATickOnANewTypeSelectsItForTheScan) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  app::FileTypeChoices choices(w.dlg);
  const size_t png = static_cast<size_t>(scan::FindType("png"));
  EXPECT_FALSE(w.dlg.TypeEnabled(png));
  choices.Click(BoxOf("png"));
  EXPECT_TRUE(w.dlg.TypeEnabled(png));
  EXPECT_TRUE(choices.Ticked(BoxOf("png")));
  EXPECT_TRUE(w.shell.boxes.empty());
  choices.Click(BoxOf("png"));
  EXPECT_FALSE(w.dlg.TypeEnabled(png));
}

TEST(FileTypesDialog, PhotosAndVideosTicksEveryPictureTypeAndOnlyThose) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  app::FileTypeChoices choices(w.dlg);
  choices.Click(BoxOf("heic"));  // one ticked already stays ticked
  EXPECT_FALSE(choices.Ticked(0));
  choices.Click(0);
  EXPECT_TRUE(choices.Ticked(0));
  const auto types = scan::FileTypes();
  for (size_t i = 0; i < types.size(); ++i) {
    SCOPED_TRACE(types[i].type->name);
    EXPECT_EQ(choices.Ticked(i + 1), types[i].type->photo);
  }
  EXPECT_TRUE(w.dlg.IsChecked(id::kCheckJpeg));
  EXPECT_TRUE(w.dlg.IsChecked(id::kCheckJpeg0));
  EXPECT_EQ(w.dlg.m_recoverJpeg, 1);  // through the box's command
  // With all of them ticked, the box unticks them all.
  choices.Click(0);
  for (size_t i = 0; i < types.size(); ++i) {
    EXPECT_FALSE(choices.Ticked(i + 1)) << types[i].type->name;
  }
  EXPECT_EQ(w.dlg.m_recoverJpeg, 0);
}

}  // namespace
