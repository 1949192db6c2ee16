#include "core/settings/CRegistry.h"

#include "core/platform/SettingsFile.h"
#include "core/settings/SettingsCatalog.h"

namespace tarnvale {
namespace {

// The backend is chosen from the environment on every call, so nothing is cached.
platform::SettingsFile Backend(RegistryRoot) {
  return platform::SettingsFile(platform::SettingsDirectory() / platform::kSettingsFileName,
                                SettingsLayout());
}

}  // namespace

bool CRegistry::ReadString(RegistryRoot root, const std::string& path, const std::string& name,
                           std::string& out) {
  auto v = Backend(root).ReadString(path, name);
  if (!v) return false;
  out = *v;
  return true;
}

bool CRegistry::WriteString(RegistryRoot root, const std::string& path, const std::string& name,
                            const std::string& value) {
  auto backend = Backend(root);
  if (value.empty()) return backend.KeyExists(path) || backend.CreateKey(path);
  return backend.Write(path, name, value);
}

bool CRegistry::ReadDWORD(RegistryRoot root, const std::string& path, const std::string& name,
                          std::uint32_t& out) {
  auto v = Backend(root).ReadDword(path, name);
  if (!v) return false;
  out = *v;
  return true;
}

bool CRegistry::WriteDWORD(RegistryRoot root, const std::string& path, const std::string& name,
                           std::uint32_t value) {
  return Backend(root).Write(path, name, value);
}

bool CRegistry::KeyExists(RegistryRoot root, const std::string& path) {
  return Backend(root).KeyExists(path);
}

}  // namespace tarnvale
