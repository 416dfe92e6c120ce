// The per-user settings store: the registry under HKEY_CURRENT_USER on
// Windows; on Linux a ".reg" text file (REGEDIT4 syntax) at
// $XDG_CONFIG_HOME/tavelin/user.reg (default ~/.config), rewritten atomically
// once per open key. Created, used and destroyed within one handler. No Qt here.
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

// The store exists but cannot be read: a file that cannot be opened or
// parsed, no home folder, a key the user may not open. Whoever meets it at
// start reports it; a later writer skips the store and leaves it as it is.
class SettingsUnreadable : public SettingsError {
public:
    using SettingsError::SettingsError;
};

class Settings {
public:
    Settings();
    // Closes the current key without reporting a refusal. Destroyed by an
    // error on its way, it leaves the store as it was.
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Opens a key by absolute path under HKEY_CURRENT_USER, such as
    // "\Software\Morvane Soft\Tavelin"; it becomes the current key, the
    // previous one being closed first. With `create`, a missing key is
    // created. False when it cannot be opened; throws SettingsUnreadable when
    // the store is there but cannot be read.
    bool OpenKey(const std::string& path, bool create);
    // Ends the use of the current key. The values written and deleted since
    // it was opened reach the store here, all of them or none: when the store
    // refuses them, throws WriteFailed naming the first value written.
    void CloseKey();

    // Every value name of the current key, in the store's order.
    std::vector<std::string> GetValueNames() const;
    bool ValueExists(const std::string& name) const;

    // "" when the value is missing; throws when it is not a string.
    std::string ReadString(const std::string& name) const;
    // Throw when the value is missing or not a 32-bit integer.
    std::int32_t ReadInteger(const std::string& name) const;
    bool ReadBool(const std::string& name) const;

    // Create or replace the value; throw when the store refuses (at the
    // latest when the key is closed).
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
