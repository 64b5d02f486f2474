// The management service: a small in-process stand-in for the machine's
// management instrumentation, with the calls the window makes. Objects are
// built from the drive inventory (sysfs) and the mount table; namespaces made
// by the user persist in a small file in the state folder.
//
// Results are status codes as the window expects them: 0 for success,
// negative (high bit set) for failure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

using HRESULT = int32_t;

namespace wbem {
constexpr HRESULT kOk = 0;
constexpr HRESULT kFalse = 1;  // Next(): no more objects
constexpr HRESULT kFailed = static_cast<HRESULT>(0x80041001);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80041002);
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80041003);
constexpr HRESULT kInvalidParameter = static_cast<HRESULT>(0x80041008);
constexpr HRESULT kInvalidNamespace = static_cast<HRESULT>(0x8004100E);
constexpr HRESULT kInvalidClass = static_cast<HRESULT>(0x80041010);
constexpr HRESULT kAlreadyExists = static_cast<HRESULT>(0x80041019);
constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002);  // E_NOINTERFACE
constexpr HRESULT kClassNotRegistered = static_cast<HRESULT>(0x80040154);
inline bool Failed(HRESULT hr) { return hr < 0; }
}  // namespace wbem

// Where the management service and the device tree read the machine from.
// Tests point these at fixture trees.
struct MachineSources {
  std::string sysRoot = "/sys";
  std::string devRoot = "/dev";
  std::string mountInfo = "/proc/self/mountinfo";
  // Namespaces made by Make Office: $XDG_STATE_HOME/lumisave, else
  // ~/.local/state/lumisave (empty: worked out at first use).
  std::string stateDir;
  // Image files and device nodes the user attached (lumisave --image FILE):
  // listed as disk drives after the machine's own.
  std::vector<std::string> attachedImages;
};

// One property of an object: its value as text and its data type as the
// CIMTYPE qualifier names it ("string", "uint32", "uint64", "boolean", ...).
struct WbemProperty {
  std::string name;
  std::string value;
  std::string cimType = "string";
  bool isNull = false;
};

class WbemQualifierSet {
 public:
  explicit WbemQualifierSet(std::vector<std::pair<std::string, std::string>> qualifiers)
      : qualifiers_(std::move(qualifiers)) {}
  HRESULT Get(const std::string& name, std::string* value) const;

 private:
  std::vector<std::pair<std::string, std::string>> qualifiers_;
};

// An instance or a class. System properties have names beginning "__"
// (__CLASS, __RELPATH, __NAMESPACE ...).
class WbemClassObject {
 public:
  WbemClassObject() = default;
  WbemClassObject(std::string className, std::vector<WbemProperty> properties);

  HRESULT Get(const std::string& name, std::string* value) const;
  // Property names in their order; with `nonSystemOnly` the "__" ones are
  // left out. The array's bounds are 0 and size - 1.
  HRESULT GetNames(bool nonSystemOnly, std::vector<std::string>* names) const;
  HRESULT GetPropertyQualifierSet(const std::string& name,
                                  std::unique_ptr<WbemQualifierSet>* set) const;
  // A new empty instance of this class.
  HRESULT SpawnInstance(std::unique_ptr<WbemClassObject>* instance) const;
  HRESULT Put(const std::string& name, const std::string& value);

  const std::string& className() const { return className_; }
  const std::vector<WbemProperty>& properties() const { return properties_; }

 private:
  std::string className_;
  std::vector<WbemProperty> properties_;
};

class WbemEnumerator {
 public:
  explicit WbemEnumerator(std::vector<WbemClassObject> objects) : objects_(std::move(objects)) {}
  // One object, or kFalse with none at the end of the set.
  HRESULT Next(long timeoutMs, std::unique_ptr<WbemClassObject>* object, uint32_t* returned);

 private:
  std::vector<WbemClassObject> objects_;
  size_t next_ = 0;
};

// Supplies the instances of some classes of the "root\cimv2" namespace.
class WbemProvider {
 public:
  virtual ~WbemProvider() = default;
  // The instances of `className`, or false when this provider has no such class.
  virtual bool Instances(const std::string& className,
                         std::vector<WbemClassObject>* instances) = 0;
};

// A connection to one namespace.
class WbemServices {
 public:
  WbemServices(std::string namespacePath, MachineSources sources);
  ~WbemServices();

  HRESULT CreateInstanceEnum(const std::string& className,
                             std::unique_ptr<WbemEnumerator>* enumerator);
  // An object path "Class.Key=\"value\"" (an instance, as its __RELPATH reads)
  // or a class name.
  HRESULT GetObject(const std::string& path, std::unique_ptr<WbemClassObject>* object);
  HRESULT OpenNamespace(const std::string& relativeName,
                        std::shared_ptr<WbemServices>* services);
  // Stores an instance; only __Namespace instances can be stored (they make
  // a namespace below this one).
  HRESULT PutInstance(const WbemClassObject& instance);

  const std::string& namespacePath() const { return path_; }
  const MachineSources& sources() const { return sources_; }

 private:
  bool IsCimv2() const;

  std::string path_;  // canonical: "root\cimv2", "root\cimv2\SAMPLE_Office"
  MachineSources sources_;
  std::vector<std::unique_ptr<WbemProvider>> providers_;
};

class WbemLocator {
 public:
  explicit WbemLocator(MachineSources sources) : sources_(std::move(sources)) {}
  // Connects to a namespace path such as "\\.\root\cimv2" (the machine part
  // may be "\\." or "//."; names compare without regard to case).
  HRESULT ConnectServer(const std::string& namespacePath,
                        std::shared_ptr<WbemServices>* services);

 private:
  MachineSources sources_;
};

// The component library as the window meets it: start-up, process security,
// and the creation of a locator. Tests replace it to make each step fail.
class ManagementLayer {
 public:
  explicit ManagementLayer(MachineSources sources = {}) : sources_(std::move(sources)) {}
  virtual ~ManagementLayer() = default;
  virtual bool Initialize() { return true; }
  virtual HRESULT InitializeSecurity() { return wbem::kOk; }
  virtual HRESULT CreateLocator(std::unique_ptr<WbemLocator>* locator);
  MachineSources& sources() { return sources_; }

 private:
  MachineSources sources_;
};

// Namespaces below "root\cimv2" that the user made, as the state file lists
// them (canonical paths, one per line).
std::vector<std::string> StoredNamespaces(const MachineSources& sources);
bool StoreNamespace(const MachineSources& sources, const std::string& path);
std::string StateFolder(const MachineSources& sources);

// The providers of "root\cimv2": disk drives, and logical disks with their
// partitions. Each lives in its own file.
std::unique_ptr<WbemProvider> MakeDiskDriveProvider(const MachineSources& sources);
std::unique_ptr<WbemProvider> MakeLogicalDiskProvider(const MachineSources& sources);

}  // namespace platform
