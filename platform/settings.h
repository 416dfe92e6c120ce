// The per-user settings store: the registry under HKEY_CURRENT_USER on
// Windows; on Linux a ".reg" text file (REGEDIT4 syntax) at
// $XDG_CONFIG_HOME/tavelin/user.reg (default ~/.config), rewritten atomically.
// Created, used and destroyed within one handler. No Qt here.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A failed read or write; what() is the store's French message naming the value:
//   "Erreur à l'obtention des données pour '%s'"   (cannot be read)
//   "Type de données incorrect pour '%s'"          (not of the expected type)
//   "Erreur à la définition des données pour '%s'" (write refused)
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    static SettingsError ReadFailed(const std::string& name);
    static SettingsError WrongType(const std::string& name);
    static SettingsError WriteFailed(const std::string& name);
};

class Settings {
public:
    Settings();
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Opens a key by absolute path under HKEY_CURRENT_USER, such as
    // "\Software\Morvane Soft\Tavelin"; it becomes the current key. With
    // `create`, a missing key is created. False when it cannot be opened.
    bool OpenKey(const std::string& path, bool create);
    void CloseKey();

    // Every value name of the current key, in the store's order.
    std::vector<std::string> GetValueNames() const;
    bool ValueExists(const std::string& name) const;

    // "" when the value is missing; throws when it is not a string.
    std::string ReadString(const std::string& name) const;
    // Throw when the value is missing or not a 32-bit integer.
    std::int32_t ReadInteger(const std::string& name) const;
    bool ReadBool(const std::string& name) const;

    // Create or replace the value; throw when the store refuses.
    void WriteString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, std::int32_t value);
    void WriteBool(const std::string& name, bool value);  // as 1 or 0

    // False when the value could not be deleted.
    bool DeleteValue(const std::string& name);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
