// Whatever the settings file holds: reading a setting gives a value, nothing, or
// SettingValueError, and the settings the program saves over it read back as saved.
#include <fcntl.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "app/user_settings.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

const QString kNames[] = {QStringLiteral("Speeker"), QStringLiteral("DataControl"),
                          QStringLiteral("ModalShow")};

QTemporaryDir* configFolder = nullptr;

std::optional<bool> readOrNothing(const app::UserSettingsKey& key, const QString& name) {
    try {
        return key.readBool(name);
    } catch (const app::SettingValueError&) {
        return std::nullopt;
    }
}

// QSettings keeps what it read or wrote and reads a file again only when its size or
// modification time changed; a new time makes the next key read the file as the program's next
// run would.
void giveNewTime(const QString& path) {
    static time_t stamp = 1000000000;
    const timespec times[2] = {{++stamp, 0}, {stamp, 0}};
    check(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
}

void writeSettingsFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    check(file.write(bytes) == bytes.size());
    file.close();
    giveNewTime(path);
}

void checkReadsBack(const bool (&saved)[3]) {
    app::UserSettingsKey key;
    check(key.openOrCreate());
    for (int i = 0; i < 3; ++i) check(key.readBool(kNames[i]) == saved[i]);
}

}  // namespace

// "@Variant(...)" values are Qt's own serialised data, whose counts and lengths a file may set
// to many gigabytes. Qt asks for that much at once and takes a failed allocation as a broken
// value; in the program such a request fails or is only reserved and never touched. Here the
// sanitizer refuses it instead of stopping at it or mapping its shadow.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The per-user configuration folder is where the key lives; the real one stays untouched.
    configFolder = new QTemporaryDir;
    check(configFolder->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configFolder->path()));
    check(QDir(configFolder->path()).mkpath(QStringLiteral("Quillmor")));
    std::atexit([] { delete configFolder; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString path = app::UserSettingsKey().fileName();
    check(path.startsWith(configFolder->path()));
    writeSettingsFile(path, bytes);
    {
        app::UserSettingsKey key;
        if (key.openOrCreate())
            for (const QString& name : kNames) readOrNothing(key, name);
    }

    // The program's close writes its settings without reading the file first.
    const bool saved[] = {size % 2 == 1, size % 3 == 1, size % 5 == 1};
    bool written = false;
    {
        app::UserSettingsKey key;
        for (int i = 0; i < 3; ++i) key.writeBool(kNames[i], saved[i]);
        written = key.save();
    }
    if (written) {
        checkReadsBack(saved);
        giveNewTime(path);
        checkReadsBack(saved);
    }
    return 0;
}
