#pragma once

#include <QSettings>
#include <QString>
#include <exception>
#include <optional>

namespace app {

// A stored setting that is present but not a 32-bit integer. Reading it ends the command that
// read it, like any other error that is not the serial component's, without a message.
class SettingValueError : public std::exception {
public:
    const char* what() const noexcept override { return "setting is not a 32-bit integer"; }
};

// The user's settings key "\Quillmor\user": an INI file in the per-user configuration folder
// (Quillmor/user.ini). The Boolean settings are stored as the integers 1 and 0; on reading,
// any non-zero 32-bit integer is true.
class UserSettingsKey {
public:
    UserSettingsKey();

    // Opens the key for reading, creating an empty one if there is none yet. False when the
    // file exists but cannot be read, or is missing and cannot be created.
    bool openOrCreate();
    // Nothing when the value is absent; throws SettingValueError when it is not an integer.
    std::optional<bool> readBool(const QString& name) const;
    void writeBool(const QString& name, bool value);
    // Stores what was written. False when the file could not be written; the values are then
    // lost, and nothing else changes.
    bool save();
    QString fileName() const { return settings_.fileName(); }
    // The file itself, for windows that keep options of their own in a group beside the values.
    QSettings& settings() { return settings_; }

private:
    QSettings settings_;
};

}  // namespace app
