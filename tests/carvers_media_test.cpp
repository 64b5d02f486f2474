#include <set>

#include "carvers/media.h"
#include "tests/support/fault_device.h"
#include "tests/carver_cases.h"

namespace {

using namespace carver_cases;
using namespace carvers;
using testing_support::FilesIn;
using testing_support::ReadFile;
using testing_support::TempDir;

Bytes WithHeader(const std::string& head, size_t bytes = 4096, size_t at = 0) {
  Bytes b = Filler(bytes);
  Put(b, at, head);
  return b;
}

Bytes Sized(const std::string& head, size_t fieldOffset, uint32_t value, size_t bytes = 4096) {
  Bytes b = WithHeader(head, bytes);
  PutLe32(b, fieldOffset, value);
  return b;
}

Bytes Progress(bool percentAt40, bool ffAt43) {
  Bytes b = WithHeader(Raw({0x1A, 0, 0}));
  if (percentAt40) b[40] = '%';
  if (ffAt43) b[43] = 0xFF;
  return b;
}

// `head`, then filler, with `marker` at `at` (from the start of the file).
Bytes WithMarker(const std::string& head, size_t bytes, const std::string& marker, size_t at,
                 size_t headAt = 0) {
  Bytes b = WithHeader(head, bytes, headAt);
  Put(b, at, marker);
  return b;
}

const std::string kJet = Raw({0, 1, 0, 0}) + "Standard Jet DB";
const std::string kAce = Raw({0, 1, 0, 0}) + "Standard ACE DB";
const std::string kPdfEnd = "EOF\n";
const std::string kMcdEnd = Raw({'M', 'p', 0xCC, 0, 1, 0, 0, 0, 'T'});

TEST(MediaCarvers, DatabasesQbbProgressAndDrawings) {
  RunCarveCases({
      {"office, Jet", CarveOffice, WithHeader(kJet), 1, 56000, "4.dat", kAny},
      {"office, ACE", CarveOffice, WithHeader(kAce), 1, 56000, "4.dat", kAny},
      {"access, Jet", CarveAccess, WithHeader(kJet), 1, 5000, "4.mdb", kAny},
      {"access, ACE is not taken", CarveAccess, WithHeader(kAce), 0, 0, nullptr, 0},
      {"office, lower-case letters are no match", CarveOffice,
       WithHeader(Raw({0, 1, 0, 0}) + "stan"), 0, 0, nullptr, 0},
      {"qbb keeps its capital extension", CarveQbb, WithHeader(Raw({0x45, 0x86, 0, 0})), 1, 18000,
       "4.QBB", kAny},
      {"progress", CarveProgress, Progress(true, true), 1, 24000, "4.ntf", kAny},
      {"progress without FF at 43", CarveProgress, Progress(true, false), 0, 0, nullptr, 0},
      {"progress without % at 40", CarveProgress, Progress(false, true), 0, 0, nullptr, 0},
      {"drawing, whatever its size field", CarveCorelDraw,
       Sized(std::string("RIFF\0\0\0\0CDRA", 12), 4, 100), 1, 3200, "4.cdr", kAny},
      {"drawing, offset 11 is not tested", CarveCorelDraw,
       WithHeader(std::string("RIFF\0\0\0\0CDR\x07", 12)), 1, 3200, "4.cdr", kAny},
      {"a video is no drawing", CarveCorelDraw, WithHeader(std::string("RIFF\0\0\0\0AVI ", 12)), 0,
       0, nullptr, 0},
  });
}

TEST(MediaCarvers, BitmapsAndVideosFromTheirSizeFields) {
  RunCarveCases({
      {"bitmap of 1,000,000 bytes", CarveBmp, Sized("BM", 2, 1000000), 1, 1954, "4.bmp", kAny},
      {"bitmap of a whole number of sectors", CarveBmp, Sized("BM", 2, 2048), 1, 4, "4.bmp", 2048},
      {"bitmap capped", CarveBmp, Sized("BM", 2, 4000000000u), 1, 200000, "4.bmp", kAny},
      {"bitmap of size 0: an empty file", CarveBmp, Sized("BM", 2, 0), 1, 0, "4.bmp", 0},
      {"video of chunk size 1,048,568", CarveAvi,
       Sized(std::string("RIFF\0\0\0\0AVI ", 12), 4, 1048568), 1, 2048, "4.avi", kAny},
      {"video of chunk size 1,048,570", CarveAvi,
       Sized(std::string("RIFF\0\0\0\0AVI ", 12), 4, 1048570), 1, 2049, "4.avi", kAny},
      {"video of the largest chunk size, no overflow, capped", CarveAvi,
       Sized(std::string("RIFF\0\0\0\0AVI ", 12), 4, 0xFFFFFFFF), 1, 1800000, "4.avi", kAny},
      {"video, chunk size near the top", CarveAvi,
       Sized(std::string("RIFF\0\0\0\0AVI ", 12), 4, 0xFFFFFFF8), 1, 1800000, "4.avi", kAny},
      {"sound file: 1200 sectors as avi", CarveAvi,
       Sized(std::string("RIFF\0\0\0\0WAVE", 12), 4, 36), 1, 1200, "4.avi", kAny},
      {"drawing: 1200 sectors as avi", CarveAvi, Sized(std::string("RIFF\0\0\0\0CDR ", 12), 4, 36),
       1, 1200, "4.avi", kAny},
      {"lower-case riff", CarveAvi, WithHeader("riff"), 0, 0, nullptr, 0},
  });
}

TEST(MediaCarvers, PdfAndMcdEndAtTheirMarkers) {
  const size_t pass = 0x40000;
  RunCarveCases({
      {"pdf ends right after EOF LF", CarvePdf, WithMarker("%PDF-1.4", 100004, kPdfEnd, 99995), 1,
       512, "4.pdf", 99999},
      {"pdf: e o f line-feed ends it too", CarvePdf, WithMarker("%PDF", 5000, "eOf\n", 3000), 1,
       512, "4.pdf", 3004},
      {"pdf: EOF CR LF runs on to the next EOF LF", CarvePdf,
       [] {
         Bytes b = WithMarker("%PDF", 600000, "%%EOF\r\n", 1000);
         Put(b, 500000, kPdfEnd);
         return b;
       }(),
       1, 1024, "4.pdf", 500004},
      {"pdf marker across two passes is found in neither", CarvePdf,
       [&] {
         Bytes b = WithMarker("%PDF", 700000, kPdfEnd, pass - 2);
         Put(b, 690000, kPdfEnd);
         return b;
       }(),
       1, 1536, "4.pdf", 690004},
      {"lower-case %pdf", CarvePdf, WithHeader("%pdf"), 0, 0, nullptr, 0},
      {"mcd ends after its 9-byte marker", CarveMcd,
       WithMarker("VectorWorks", 300000, kMcdEnd, 280000, 14), 1, 1024, "4.mcd", 280009},
      {"mcd marker letters in either case", CarveMcd,
       WithMarker("VectorWorks", 3000, Raw({'m', 'P', 0xCC, 0, 1, 0, 0, 0, 't'}), 2000, 14), 1, 512,
       "4.mcd", 2009},
      {"VectorWorks at offset 0 is no mcd", CarveMcd, WithHeader("VectorWorks", 3000, 0), 0, 0,
       nullptr, 0},
  });
  // Without a marker, the copy takes its whole bound.
  RunCarveCases(
      {
          {"pdf with no marker: 14000 sectors", CarvePdf, WithHeader("%PDF", 8000), 1, 14000,
           "4.pdf", 14000 * 512},
          {"mcd marker with another byte: 14000 sectors", CarveMcd,
           WithMarker("VectorWorks", 3000, Raw({'M', 'p', 0xCC, 0, 2, 0, 0, 0, 'T'}), 2000, 14), 1,
           14000, "4.mcd", 14000 * 512},
      },
      14100);
}

// A pass that reads 0 bytes counts as a find at its start: the copy ends
// with k - 1 bytes of the copy buffer. At the end of the drive the buffer
// still holds the pass before; when the very first read fails it holds
// zeros.
// A file whose first sector could not be read, followed by `tail` zeros.
Bytes Holed(const Bytes& file, size_t tail) {
  Bytes b(512, 0);
  b.insert(b.end(), file.begin() + 512, file.end());
  b.insert(b.end(), tail, 0);
  return b;
}

TEST(MediaCarvers, PdfAndMcdAtAPassThatReadsNothing) {
  const Bytes pdf = WithHeader("%PDF", 2048);
  const Bytes mcd = WithHeader("VectorWorks", 2048, 14);
  struct Case {
    const char* name;
    CarveFn carve;
    Bytes file;
    std::set<uint64_t> bad;
    const char* out;
    Bytes expected;
  } cases[] = {
      {"pdf runs into the end of the drive",
       CarvePdf,
       pdf,
       {},
       "4.pdf",
       [&] {
         Bytes b = pdf;
         b.insert(b.end(), pdf.begin(), pdf.begin() + 3);
         return b;
       }()},
      {"mcd runs into the end of the drive",
       CarveMcd,
       mcd,
       {},
       "4.mcd",
       [&] {
         Bytes b = mcd;
         b.insert(b.end(), mcd.begin(), mcd.begin() + 8);
         return b;
       }()},
      // The unreadable first sector is a hole of zeros, the rest is read
      // sector by sector; the next pass reads nothing and ends the copy
      // with k - 1 bytes of the buffer, which starts with the hole.
      {"pdf whose first sector cannot be read", CarvePdf, pdf, {4}, "4.pdf", Holed(pdf, 3)},
      {"mcd whose first sector cannot be read", CarveMcd, mcd, {4}, "4.mcd", Holed(mcd, 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    testing_support::ScriptedShell shell;
    testing_support::WriteFile(dir / "image", ImageWith(c.file, 4, 8));
    auto device = platform::FaultyDevice::Open(dir / "image", c.bad);
    ASSERT_TRUE(device);
    EXPECT_EQ(testing_support::Carve(c.carve, 4, *device, {c.file.data(), 512}, dir.path(), shell), 1);
    EXPECT_EQ(ReadFile(dir / c.out), c.expected);
  }
}

// Real files, written by the system's own tools, placed in small images.
class RealFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"convert", "sox", "ppmtoy4m", "yuv2lav", "ps2pdf"}) {
      if (!HaveTool(tool)) GTEST_SKIP() << tool << " is missing: run scripts/install-deps.sh";
    }
  }

  Bytes Make(const std::string& command, const std::string& name) {
    const std::string path = dir_ / name;
    EXPECT_TRUE(Shell("cd " + dir_.path() + " && " + command + " > /dev/null 2>&1")) << command;
    return ReadFile(path);
  }

  Bytes Pdf() {
    testing_support::WriteFile(dir_ / "page.ps", [] {
      const std::string ps =
          "%!PS\n/Helvetica findfont 12 scalefont setfont 72 720 moveto (Lumisave) show\n"
          "newpath 72 72 moveto 300 72 lineto 300 300 lineto closepath fill\nshowpage\n";
      return Bytes(ps.begin(), ps.end());
    }());
    return Make("ps2pdf -dCompressPages=false page.ps page.pdf", "page.pdf");
  }

  // Places `file` at sector 4 of an image with `after` behind it, carves it
  // and returns the output file.
  Bytes Carve(CarveFn carve, const Bytes& file, const std::string& out, const Bytes& after = {}) {
    Bytes image = Filler(4 * 512);
    Put(image, 4 * 512, std::string(file.begin(), file.end()));
    image.insert(image.end(), after.begin(), after.end());
    image.resize((image.size() + 511) / 512 * 512 + 1300 * 512, 0x61);
    testing_support::ScriptedShell shell;
    TempDir out_dir;
    EXPECT_EQ(RunCarver(carve, image, 4, out_dir.path(), shell, dir_ / "image").result, 1);
    return ReadFile(out_dir / out);
  }

  // The file followed by the image's bytes up to its last sector's end.
  static Bytes Padded(const Bytes& file) {
    Bytes b = file;
    b.resize((file.size() + 511) / 512 * 512, 0x61);
    return b;
  }

  TempDir dir_;
};

TEST_F(RealFiles, BitmapVideoAndSound) {
  const Bytes bmp =
      Make("convert -size 300x200 gradient:red-blue -type truecolor bmp3:pic.bmp", "pic.bmp");
  ASSERT_GT(bmp.size(), 512u);
  Bytes carved = Carve(CarveBmp, bmp, "4.bmp");
  EXPECT_EQ(carved, Padded(bmp));

  const Bytes avi = Make(
      "convert -size 320x240 gradient:blue-white -depth 8 ppm:- | "
      "ppmtoy4m -n 12 -F 25:1 -S 420mpeg2 | yuv2lav -f a -o clip.avi",
      "clip.avi");
  ASSERT_GT(avi.size(), 4096u);
  EXPECT_EQ(Carve(CarveAvi, avi, "4.avi"), Padded(avi));

  const Bytes wav = Make("sox -n -r 8000 -c 1 -b 16 tone.wav synth 0.5 sine 440", "tone.wav");
  ASSERT_GT(wav.size(), 4096u);
  carved = Carve(CarveAvi, wav, "4.avi");
  ASSERT_EQ(carved.size(), 1200u * 512);
  EXPECT_TRUE(std::equal(wav.begin(), wav.end(), carved.begin()));
}

TEST_F(RealFiles, PdfOneRevisionTwoRevisionsAndCrLf) {
  const Bytes pdf = Pdf();
  ASSERT_GT(pdf.size(), 512u);
  ASSERT_EQ(std::string(pdf.end() - 6, pdf.end()), "%%EOF\n");
  EXPECT_EQ(Carve(CarvePdf, pdf, "4.pdf"), pdf);

  // An incremental update appended to the file: the copy ends with the
  // first revision.
  const std::string pdfText(pdf.begin(), pdf.end());
  const size_t firstXref = pdfText.rfind("startxref\n") + 10;
  const std::string prev = pdfText.substr(firstXref, pdfText.find('\n', firstXref) - firstXref);
  std::string update = "99 0 obj\n<< /Producer (Lumisave test) >>\nendobj\n";
  const size_t objAt = pdf.size();
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", objAt);
  const size_t xrefAt = pdf.size() + update.size();
  update += std::string("xref\n99 1\n") + entry + "trailer\n<< /Size 100 /Root 1 0 R /Prev " +
            prev + " /Info 99 0 R >>\nstartxref\n" + std::to_string(xrefAt) + "\n%%EOF\n";
  Bytes twoRevisions = pdf;
  twoRevisions.insert(twoRevisions.end(), update.begin(), update.end());
  EXPECT_EQ(Carve(CarvePdf, twoRevisions, "4.pdf"), pdf);

  // Ending in %%EOF CR LF: the copy runs on to the next EOF LF on the drive.
  Bytes crlf(pdf.begin(), pdf.end() - 1);
  crlf.push_back('\r');
  crlf.push_back('\n');
  const std::string next = "more data %%EOF\n";
  Bytes carved = Carve(CarvePdf, crlf, "4.pdf", Bytes(next.begin(), next.end()));
  Bytes expected = crlf;
  expected.insert(expected.end(), next.begin(), next.end());
  EXPECT_EQ(carved, expected);
}

}  // namespace
