#include "platform/wbem.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

#include "platform/fs.h"
#include "base/text.h"

namespace platform {
namespace {

using base::Lower;

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

// "\\.\root\cimv2", "//./root/cimv2", "ROOT\CIMV2" -> "root\cimv2" with the
// case of the stored name; empty when the path names no namespace.
std::string CanonicalNamespace(std::string path, const MachineSources& sources) {
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.rfind("\\\\.\\", 0) == 0) path = path.substr(4);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  if (SameName(path, "root")) return "root";
  if (SameName(path, "root\\cimv2")) return "root\\cimv2";
  for (const std::string& stored : StoredNamespaces(sources)) {
    if (SameName(path, stored)) return stored;
  }
  return "";
}

WbemClassObject NamespaceClass() {
  return WbemClassObject("__Namespace", {{"__CLASS", "__Namespace", "string", false},
                                         {"__RELPATH", "", "string", true},
                                         {"Name", "", "string", true}});
}

}  // namespace

HRESULT WbemQualifierSet::Get(const std::string& name, std::string* value) const {
  for (const auto& [n, v] : qualifiers_) {
    if (SameName(n, name)) {
      *value = v;
      return wbem::kOk;
    }
  }
  return wbem::kNotFound;
}

WbemClassObject::WbemClassObject(std::string className, std::vector<WbemProperty> properties)
    : className_(std::move(className)), properties_(std::move(properties)) {}

HRESULT WbemClassObject::Get(const std::string& name, std::string* value) const {
  for (const WbemProperty& p : properties_) {
    if (SameName(p.name, name)) {
      if (p.isNull) return wbem::kNotFound;
      *value = p.value;
      return wbem::kOk;
    }
  }
  return wbem::kNotFound;
}

HRESULT WbemClassObject::GetNames(bool nonSystemOnly, std::vector<std::string>* names) const {
  names->clear();
  for (const WbemProperty& p : properties_) {
    if (nonSystemOnly && p.name.rfind("__", 0) == 0) continue;
    names->push_back(p.name);
  }
  return wbem::kOk;
}

HRESULT WbemClassObject::GetPropertyQualifierSet(const std::string& name,
                                                 std::unique_ptr<WbemQualifierSet>* set) const {
  for (const WbemProperty& p : properties_) {
    if (SameName(p.name, name)) {
      *set = std::make_unique<WbemQualifierSet>(
          std::vector<std::pair<std::string, std::string>>{{"CIMTYPE", p.cimType}});
      return wbem::kOk;
    }
  }
  return wbem::kNotFound;
}

HRESULT WbemClassObject::SpawnInstance(std::unique_ptr<WbemClassObject>* instance) const {
  std::vector<WbemProperty> props;
  for (WbemProperty p : properties_) {
    if (p.name != "__CLASS") {
      p.value.clear();
      p.isNull = true;
    }
    props.push_back(std::move(p));
  }
  *instance = std::make_unique<WbemClassObject>(className_, std::move(props));
  return wbem::kOk;
}

HRESULT WbemClassObject::Put(const std::string& name, const std::string& value) {
  for (WbemProperty& p : properties_) {
    if (SameName(p.name, name)) {
      p.value = value;
      p.isNull = false;
      return wbem::kOk;
    }
  }
  return wbem::kNotFound;
}

HRESULT WbemEnumerator::Next(long /*timeoutMs*/, std::unique_ptr<WbemClassObject>* object,
                             uint32_t* returned) {
  *returned = 0;
  if (next_ >= objects_.size()) return wbem::kFalse;
  *object = std::make_unique<WbemClassObject>(objects_[next_++]);
  *returned = 1;
  return wbem::kOk;
}

WbemServices::WbemServices(std::string namespacePath, MachineSources sources)
    : path_(std::move(namespacePath)), sources_(std::move(sources)) {
  if (IsCimv2()) {
    providers_.push_back(MakeDiskDriveProvider(sources_));
    providers_.push_back(MakeLogicalDiskProvider(sources_));
  }
}

WbemServices::~WbemServices() = default;

bool WbemServices::IsCimv2() const { return path_ == "root\\cimv2"; }

HRESULT WbemServices::CreateInstanceEnum(const std::string& className,
                                         std::unique_ptr<WbemEnumerator>* enumerator) {
  std::vector<WbemClassObject> instances;
  if (SameName(className, "__Namespace")) {
    const std::string prefix = Lower(path_) + "\\";
    for (const std::string& stored : StoredNamespaces(sources_)) {
      if (Lower(stored).rfind(prefix, 0) != 0) continue;
      std::string name = stored.substr(prefix.size());
      if (name.find('\\') != std::string::npos) continue;
      instances.push_back(WbemClassObject(
          "__Namespace", {{"__CLASS", "__Namespace", "string", false},
                          {"__RELPATH", "__Namespace.Name=\"" + name + "\"", "string", false},
                          {"Name", name, "string", false}}));
    }
    *enumerator = std::make_unique<WbemEnumerator>(std::move(instances));
    return wbem::kOk;
  }
  for (const auto& provider : providers_) {
    if (provider->Instances(className, &instances)) {
      *enumerator = std::make_unique<WbemEnumerator>(std::move(instances));
      return wbem::kOk;
    }
  }
  return wbem::kInvalidClass;
}

HRESULT WbemServices::GetObject(const std::string& path, std::unique_ptr<WbemClassObject>* object) {
  if (path.empty()) return wbem::kInvalidParameter;
  if (SameName(path, "__Namespace")) {
    *object = std::make_unique<WbemClassObject>(NamespaceClass());
    return wbem::kOk;
  }
  const size_t dot = path.find('.');
  const std::string className = path.substr(0, dot);
  std::unique_ptr<WbemEnumerator> all;
  HRESULT hr = CreateInstanceEnum(className, &all);
  if (wbem::Failed(hr)) return hr;
  std::unique_ptr<WbemClassObject> candidate;
  uint32_t returned = 0;
  while (all->Next(0, &candidate, &returned) == wbem::kOk && returned == 1) {
    std::string relpath;
    if (dot == std::string::npos) {
      // A class name alone: the class, shaped as its first instance.
      *object = std::move(candidate);
      return wbem::kOk;
    }
    if (candidate->Get("__RELPATH", &relpath) == wbem::kOk && SameName(relpath, path)) {
      *object = std::move(candidate);
      return wbem::kOk;
    }
  }
  return wbem::kNotFound;
}

HRESULT WbemServices::OpenNamespace(const std::string& relativeName,
                                    std::shared_ptr<WbemServices>* services) {
  std::string canonical = CanonicalNamespace(path_ + "\\" + relativeName, sources_);
  if (canonical.empty()) return wbem::kInvalidNamespace;
  *services = std::make_shared<WbemServices>(canonical, sources_);
  return wbem::kOk;
}

HRESULT WbemServices::PutInstance(const WbemClassObject& instance) {
  std::string name;
  if (!SameName(instance.className(), "__Namespace") || instance.Get("Name", &name) != wbem::kOk ||
      name.empty() || name.find('\\') != std::string::npos) {
    return wbem::kInvalidParameter;
  }
  if (!CanonicalNamespace(path_ + "\\" + name, sources_).empty()) return wbem::kOk;
  return StoreNamespace(sources_, path_ + "\\" + name) ? wbem::kOk : wbem::kAccessDenied;
}

HRESULT WbemLocator::ConnectServer(const std::string& namespacePath,
                                   std::shared_ptr<WbemServices>* services) {
  std::string canonical = CanonicalNamespace(namespacePath, sources_);
  if (canonical.empty()) return wbem::kInvalidNamespace;
  *services = std::make_shared<WbemServices>(canonical, sources_);
  return wbem::kOk;
}

HRESULT ManagementLayer::CreateLocator(std::unique_ptr<WbemLocator>* locator) {
  *locator = std::make_unique<WbemLocator>(sources_);
  return wbem::kOk;
}

std::string StateFolder(const MachineSources& sources) {
  if (!sources.stateDir.empty()) return sources.stateDir;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) {
    return std::string(xdg) + "/lumisave";
  }
  return HomeFolder() + "/.local/state/lumisave";
}

namespace {
std::string NamespaceFile(const MachineSources& sources) {
  return StateFolder(sources) + "/namespaces";
}
}  // namespace

std::vector<std::string> StoredNamespaces(const MachineSources& sources) {
  std::vector<std::string> names;
  std::ifstream in(NamespaceFile(sources));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

bool StoreNamespace(const MachineSources& sources, const std::string& path) {
  // Make the state folder and its parents (~/.local/state may not exist yet).
  const std::string folder = StateFolder(sources);
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    ::mkdir(folder.substr(0, slash).c_str(), 0755);
  }
  ::mkdir(folder.c_str(), 0755);
  std::ofstream out(NamespaceFile(sources), std::ios::app);
  if (!out) return false;
  out << path << '\n';
  return static_cast<bool>(out.flush());
}

}  // namespace platform
