#include "app/user_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVariant>
#include <cstdint>
#include <limits>

namespace app {

UserSettingsKey::UserSettingsKey()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmor"),
                QStringLiteral("user")) {}

bool UserSettingsKey::openOrCreate() {
    QFile file(settings_.fileName());
    if (file.exists())
        return file.open(QIODevice::ReadOnly) && settings_.status() == QSettings::NoError;
    return QDir().mkpath(QFileInfo(file).absolutePath()) && file.open(QIODevice::WriteOnly);
}

// A stored DWORD may have been written signed or unsigned; both spellings are one 32-bit value.
// A value read from the file is a text; one that this process wrote is still the integer it
// wrote, since QSettings keeps it as given until the file is read again.
std::optional<bool> UserSettingsKey::readBool(const QString& name) const {
    const QVariant stored = settings_.value(name);
    if (!stored.isValid()) return std::nullopt;
    const int type = stored.typeId();
    if (type != QMetaType::QString && type != QMetaType::Int) throw SettingValueError();
    bool isNumber = false;
    const qlonglong number = stored.toString().toLongLong(&isNumber, 10);
    if (!isNumber || number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<uint32_t>::max())
        throw SettingValueError();
    return number != 0;
}

void UserSettingsKey::writeBool(const QString& name, bool value) {
    settings_.setValue(name, value ? 1 : 0);
}

bool UserSettingsKey::save() {
    settings_.sync();
    return settings_.status() == QSettings::NoError;
}

}  // namespace app
