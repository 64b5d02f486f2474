#include "inventory/console.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "inventory/drive_list.h"
#include "platform/dir_watch.h"
#include "platform/volumes.h"

namespace inventory {
namespace {

namespace wbem = platform::wbem;
using platform::HRESULT;

constexpr const char* kOfficeNamespace = "SAMPLE_Office";

void AddLine(app::WindowModel& w, const std::string& line) {
  w.outputList().rows.push_back({line});
}

void ClearLines(app::WindowModel& w) {
  w.outputList().rows.clear();
  w.outputList().selected = -1;
}

// Makes the office namespace through `services`; the status of the last call.
HRESULT CreateOfficeNamespace(app::WindowModel& w, platform::WbemServices& services) {
  std::unique_ptr<platform::WbemClassObject> namespaceClass;
  HRESULT status = services.GetObject("__Namespace", &namespaceClass);
  if (wbem::Failed(status)) return status;
  std::unique_ptr<platform::WbemClassObject> instance;
  status = namespaceClass->SpawnInstance(&instance);
  if (wbem::Failed(status)) return status;
  instance->Put("Name", kOfficeNamespace);
  status = services.PutInstance(*instance);
  if (wbem::Failed(status)) return status;
  AddLine(w, "Created office namespace");
  return services.OpenNamespace(kOfficeNamespace, &w.m_officeServices);
}

std::atomic<bool> g_mirrorRunning{false};

[[noreturn]] void ExitWithError(int error) { platform::ExitProcess(error); }

[[noreturn]] void WatchLoop(platform::ChangeWatch& first, platform::ChangeWatch& second) {
  for (;;) {
    int error = 0;
    const int which = platform::ChangeWatch::WaitForEither(first, second, &error);
    if (which < 0) ExitWithError(error);
    platform::ChangeWatch& signalled = which == 0 ? first : second;
    if (!signalled.Rearm(&error)) ExitWithError(error);
  }
}

[[noreturn]] void RunMirror(const platform::MachineSources& sources) {
  const platform::VolumeTable volumes(sources);
  std::string windowsFolder, rootFolder;
  if (!volumes.LocalPath("C:\\WINDOWS", &windowsFolder)) ExitWithError(errno);
  if (!volumes.LocalPath("C:\\", &rootFolder)) ExitWithError(errno);
  WatchFolders(windowsFolder, rootFolder);
}

}  // namespace

void MakeOffice(app::WindowModel& w) {
  app::BusyScope busy(w.shell());
  if (w.m_officeServices) return;
  // Without a connection nothing can be opened: told as a failed open.
  HRESULT status = w.m_services ? w.m_services->OpenNamespace(kOfficeNamespace, &w.m_officeServices)
                                : wbem::kFailed;
  ClearLines(w);
  if (wbem::Failed(status) && w.m_services) status = CreateOfficeNamespace(w, *w.m_services);
  if (w.m_officeServices) {
    // Opened only to prove that it exists.
    w.m_officeServices.reset();
    AddLine(w, "Connected to office");
  } else {
    AddLine(w, HresultMessage("Failed to connect to office", status));
  }
  w.Enable(app::id::kDiskInfo, false);
}

void DiskInfo(app::WindowModel& w) {
  app::BusyScope busy(w.shell());
  w.Enable(app::id::kDiskInfo, false);
  app::Control& lines = w.outputList();
  // No connection, no selected line, or a line that names no object: there
  // is nothing to describe, and the list keeps its lines.
  if (!w.m_services || lines.selected < 0 ||
      static_cast<size_t>(lines.selected) >= lines.rows.size() ||
      lines.rows[static_cast<size_t>(lines.selected)].empty()) {
    return;
  }
  const std::string path = lines.rows[static_cast<size_t>(lines.selected)][0];
  std::unique_ptr<platform::WbemClassObject> object;
  if (wbem::Failed(w.m_services->GetObject(path, &object))) return;
  std::vector<std::string> names;
  if (wbem::Failed(object->GetNames(true, &names))) return;
  const int lower = 0;
  const int upper = static_cast<int>(names.size()) - 1;
  std::fprintf(stderr, "SAFEARRAY from %d to %d\n", lower, upper);
  ClearLines(w);
  for (const std::string& name : names) {
    std::string line = name + " (";
    std::unique_ptr<platform::WbemQualifierSet> qualifiers;
    std::string type;
    if (!wbem::Failed(object->GetPropertyQualifierSet(name, &qualifiers)) &&
        !wbem::Failed(qualifiers->Get("CIMTYPE", &type))) {
      line += type;
    }
    AddLine(w, line + ")");
  }
}

void StartMirror(app::WindowModel& w) {
  if (g_mirrorRunning.exchange(true)) return;
  std::thread([sources = w.management().sources()] { RunMirror(sources); }).detach();
}

bool MirrorRunning() { return g_mirrorRunning.load(); }

void WatchFolders(const std::string& windowsFolder, const std::string& rootFolder) {
  int error = 0;
  auto first = platform::ChangeWatch::Start(windowsFolder, false, platform::kChangeFileName, &error);
  if (!first) ExitWithError(error);
  auto second = platform::ChangeWatch::Start(rootFolder, true, platform::kChangeDirName, &error);
  if (!second) ExitWithError(error);
  WatchLoop(*first, *second);
}

}  // namespace inventory
