// The picture carvers on small images: where files end, what they are named,
// and that the device is left where it was.
#include "carvers/jpeg.h"

#include <gtest/gtest.h>

#include "platform/device.h"
#include "tests/support/carve.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_shell.h"

namespace {

using namespace testing_support;

class JpegCarverTest : public ::testing::Test {
 protected:
  // Writes the image, opens it, and runs `carve` at `sector` with the
  // device positioned at `position`.
  Bytes Carve(carvers::CarveFn carve, ImageBuilder& image, uint64_t sector,
              uint64_t position = 4096, int* result = nullptr) {
    image.WriteTo(dir / "card.img");
    platform::DeviceHandle device = platform::OpenPath(dir / "card.img", platform::Access::kRead);
    EXPECT_TRUE(device);
    device->Seek(position);
    Bytes sectorBytes(512, 0);
    const Bytes& all = image.bytes();
    for (size_t i = 0; i < 512 && sector * 512 + i < all.size(); ++i) {
      sectorBytes[i] = all[sector * 512 + i];
    }
    int r = testing_support::Carve(carve, sector, *device, {sectorBytes.data(), 512}, dir.path(), shell);
    if (result) *result = r;
    EXPECT_EQ(device->Position(), position) << "the device must be left where it was";
    return ReadFile(carvers::OutputPath(dir.path(), sector, "jpg"));
  }

  TempDir dir;
  ScriptedShell shell;
};

TEST_F(JpegCarverTest, ExifEndsAtTheFirstEndMarkerOfALaterPass) {
  // A 600,000-byte picture whose thumbnail ends in the first pass.
  ImageBuilder image(4000);
  Bytes photo = FakeJpeg(0xE1, 600000, {5000, 599998});
  image.PutSector(10, photo);
  image.Put(10 * 512 + 600000 + 100, {0xFF, 0xD9});
  Bytes out = Carve(carvers::CarveJpeg, image, 10);
  EXPECT_EQ(out, photo);
}

TEST_F(JpegCarverTest, ExifEndingInItsFirstPassRunsOnToTheNextMarker) {
  ImageBuilder image(4000);
  Bytes photo = FakeJpeg(0xE1, 100000, {2000, 99998});
  image.PutSector(0, photo);
  image.Put(400000, {0xFF, 0xD9});
  Bytes out = Carve(carvers::CarveJpeg, image, 0);
  EXPECT_EQ(out.size(), 400002u);
  EXPECT_TRUE(std::equal(photo.begin(), photo.end(), out.begin()));
  // A picture at sector 0 is named by its extension alone.
  EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{".jpg", "card.img"}));
}

TEST_F(JpegCarverTest, ExifWithoutEndMarkerIsCutAtTenThousandSectors) {
  ImageBuilder image(12000);
  image.PutSector(5, FakeJpeg(0xE1, 4000, {}));
  EXPECT_EQ(Carve(carvers::CarveJpeg, image, 5).size(), 5120000u);
}

TEST_F(JpegCarverTest, JfifEndsAtTheFirstEndMarker) {
  ImageBuilder image(4000);
  Bytes photo = FakeJpeg(0xE0, 100000, {99998});
  image.PutSector(813, photo);
  image.Put(813 * 512 + 100000 + 10, {0xFF, 0xD9});
  EXPECT_EQ(Carve(carvers::CarveJpeg0, image, 813), photo);
}

TEST_F(JpegCarverTest, JfifWithoutEndMarkerIsCutAtEightThousandSectors) {
  ImageBuilder image(9000);
  image.PutSector(1, FakeJpeg(0xE0, 3000, {}));
  EXPECT_EQ(Carve(carvers::CarveJpeg0, image, 1).size(), 4096000u);
}

TEST_F(JpegCarverTest, JfifNearTheEndGetsOneMoreByteFromTheEmptyPass) {
  // 100 sectors before the end, no end marker: the second pass reads 0
  // bytes, counts as a find at 0 and writes the buffer's first byte.
  ImageBuilder image(1000);
  image.PutSector(900, FakeJpeg(0xE0, 51200, {}));
  Bytes out = Carve(carvers::CarveJpeg0, image, 900);
  ASSERT_EQ(out.size(), 51201u);
  EXPECT_EQ(out.back(), 0xFF);
}

TEST_F(JpegCarverTest, AFirstReadOfNothingWritesAZeroNotLeftoverMemory) {
  // The signature is offered for a sector past the end of the device: the
  // first read returns 0 bytes and the one byte written comes from the
  // freshly zeroed copy buffer.
  ImageBuilder image(100);
  int result = 0;
  Bytes sig = FakeJpeg(0xE0, 512, {});
  image.WriteTo(dir / "card.img");
  platform::DeviceHandle device = platform::OpenPath(dir / "card.img", platform::Access::kRead);
  result = testing_support::Carve(carvers::CarveJpeg0, 500, *device, {sig.data(), 512}, dir.path(), shell);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadFile(dir / "500.jpg"), Bytes{0x00});
}

TEST_F(JpegCarverTest, OtherSectorsAreLeftAlone) {
  ImageBuilder image(100);
  image.PutSector(3, {0xFF, 0xD8, 0xFF, 0xDB});
  image.PutSector(4, FakeJpeg(0xE0, 600, {500}));
  int result = -1;
  Carve(carvers::CarveJpeg, image, 3, 4096, &result);
  EXPECT_EQ(result, 0);
  Carve(carvers::CarveJpeg0, image, 3, 4096, &result);
  EXPECT_EQ(result, 0);
  Carve(carvers::CarveJpeg, image, 4, 4096, &result);  // JFIF is not EXIF
  EXPECT_EQ(result, 0);
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"card.img"});
}

TEST_F(JpegCarverTest, AFileThatCannotBeCreatedIsReportedWithItsPath) {
  ImageBuilder image(100);
  Bytes photo = FakeJpeg(0xE0, 2000, {1998});
  image.PutSector(7, photo);
  image.WriteTo(dir / "card.img");
  platform::DeviceHandle device = platform::OpenPath(dir / "card.img", platform::Access::kRead);
  device->Seek(1024);
  const std::string folder = dir / "missing";
  EXPECT_EQ(testing_support::Carve(carvers::CarveJpeg0, 7, *device, {photo.data(), 512}, folder, shell), 0);
  EXPECT_EQ(device->Position(), 1024u);
  ASSERT_EQ(shell.boxes.size(), 1u);
  EXPECT_EQ(shell.boxes[0].caption, "Create File failed !");
  EXPECT_EQ(shell.boxes[0].text, folder + "/7.jpg");
}

TEST_F(JpegCarverTest, ARepeatedCarveKeepsTheEarlierFileAndTakesTheNextName) {
  ImageBuilder image(100);
  Bytes photo = FakeJpeg(0xE0, 3000, {2998});
  image.PutSector(2, photo);
  WriteFile(dir / "2.jpg", Bytes(10000, 0xAA));
  Carve(carvers::CarveJpeg0, image, 2);
  EXPECT_EQ(ReadFile(dir / "2.jpg"), Bytes(10000, 0xAA));
  EXPECT_EQ(ReadFile(dir / "2_1.jpg"), photo);
}

}  // namespace
