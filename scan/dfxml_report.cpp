#include "scan/dfxml_report.h"

#include "base/sha256.h"
#include "platform/device.h"
#include "platform/fs.h"

namespace scan {
namespace {

// `path` as seen from `folder`: inside it, the rest of the path; beside it
// (a type folder named OUT + suffix), "../" and the path from the parent.
std::string RelativeTo(const std::string& folder, const std::string& path) {
  if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
      path[folder.size()] == '/') {
    return path.substr(folder.size() + 1);
  }
  const size_t slash = folder.rfind('/');
  if (slash != std::string::npos) {
    const std::string parent = folder.substr(0, slash + 1);
    if (path.compare(0, parent.size(), parent) == 0) return "../" + path.substr(parent.size());
  }
  return path;
}

std::string Element(const char* name, const std::string& text) {
  return std::string("<") + name + ">" + XmlEscape(text) + "</" + name + ">";
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
          out += "\xEF\xBF\xBD";
        } else {
          out.push_back(ch);
        }
    }
  }
  return out;
}

std::string DfxmlText(const ReportSettings& s, const std::vector<ReportedFile>& files) {
  // Numbers as digits, 0 included.
  const auto Digits = [](uint64_t n) { return std::to_string(n); };
  std::string x;
  x += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  x += "<dfxml version=\"1.0\">\n";
  x += "  <creator>\n";
  x += "    " + Element("program", s.program) + "\n";
  x += "    " + Element("version", s.version) + "\n";
  x += "    <execution_environment>" + Element("command_line", s.commandLine) +
       "</execution_environment>\n";
  x += "  </creator>\n";
  x += "  <source>\n";
  x += "    " + Element("image_filename", s.source.path) + "\n";
  x += "    <image_size>" + Digits(s.source.size) + "</image_size>\n";
  if (!s.source.model.empty()) x += "    " + Element("device_model", s.source.model) + "\n";
  if (!s.source.serial.empty()) {
    x += "    " + Element("device_serial_number", s.source.serial) + "\n";
  }
  x += "  </source>\n";
  for (const ReportedFile& f : files) {
    x += "  <fileobject>\n";
    x += "    " + Element("filename", RelativeTo(s.folder, f.record.path)) + "\n";
    x += "    <filesize>" + Digits(f.record.length) + "</filesize>\n";
    x += "    <byte_runs>\n";
    for (const base::ByteRun& r : f.record.runs) {
      x += "      <byte_run file_offset=\"" + Digits(r.fileOffset) + "\"";
      if (r.hole) {
        x += " fill=\"0\"";
      } else {
        x += " img_offset=\"" + Digits(r.driveOffset) + "\"";
      }
      x += " len=\"" + Digits(r.length) + "\"/>\n";
    }
    x += "    </byte_runs>\n";
    if (!f.sha256.empty()) x += "    <hashdigest type=\"sha256\">" + f.sha256 + "</hashdigest>\n";
    x += "  </fileobject>\n";
  }
  x += "</dfxml>\n";
  return x;
}

std::string FileSha256(const std::string& path) {
  platform::DeviceHandle file = platform::OpenPath(path, platform::Access::kRead);
  if (!file) return {};
  base::Sha256 sha;
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    uint32_t got = 0;
    if (!file->Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got)) return {};
    if (got == 0) break;
    sha.Update(buffer.data(), got);
  }
  return sha.HexDigest();
}

void DfxmlReporter::OnFile(const base::FileRecord& f) {
  files_.push_back({f, settings_.hash ? FileSha256(f.path) : std::string()});
}

void DfxmlReporter::OnEnd(const base::RunEnd&) { Write(); }

bool DfxmlReporter::Write() {
  if (!written_.empty()) return true;
  platform::CreatedFile created = platform::CreateNewFile(settings_.folder, "report", "xml");
  if (!created.file) {
    error_ = created.error;
    return false;
  }
  const std::string text = DfxmlText(settings_, files_);
  if (!created.file->WriteAll(text.data(), text.size()) || !created.file->Close()) {
    error_ = created.file->error();
    created.file->Remove();
    return false;
  }
  written_ = settings_.folder + "/" + created.name;
  return true;
}

}  // namespace scan
