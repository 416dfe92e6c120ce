#include "platform/settings.h"

namespace platform {

SettingsError SettingsError::ReadFailed(const std::string& name) {
    return SettingsError("Erreur à l'obtention des données pour '" + name + "'");
}

SettingsError SettingsError::WrongType(const std::string& name) {
    return SettingsError("Type de données incorrect pour '" + name + "'");
}

SettingsError SettingsError::WriteFailed(const std::string& name) {
    return SettingsError("Erreur à la définition des données pour '" + name + "'");
}

}  // namespace platform
