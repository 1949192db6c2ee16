#pragma once
// Static access to the settings of the current user, in the shape of the
// registry calls the program was designed around. The POSIX backend is the
// settings file (platform/SettingsFile.h); a Windows build would put the
// registry behind the same five operations.

#include <cstdint>
#include <string>

namespace tarnvale {

enum class RegistryRoot { CurrentUser };

class CRegistry {
 public:
  virtual ~CRegistry() = default;

  // Exactly the stored text; false when the key or value is missing or not a string.
  static bool ReadString(RegistryRoot root, const std::string& path, const std::string& name,
                         std::string& out);
  // Creates the key when missing. An empty string writes nothing and still
  // counts as success.
  static bool WriteString(RegistryRoot root, const std::string& path, const std::string& name,
                          const std::string& value);
  static bool ReadDWORD(RegistryRoot root, const std::string& path, const std::string& name,
                        std::uint32_t& out);
  static bool WriteDWORD(RegistryRoot root, const std::string& path, const std::string& name,
                         std::uint32_t value);
  static bool KeyExists(RegistryRoot root, const std::string& path);
};

}  // namespace tarnvale
