#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include "fake_port_host.h"

namespace app_test {

// Each test gets its own empty per-user settings folder and a fresh fake driver host.
class AppFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(configDir_.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configDir_.path());
    }

    QString settingsFile() const {
        return configDir_.filePath(QStringLiteral("Quillmor/user.ini"));
    }

    // Writes the settings file as a user (or another program) might have left it.
    void writeSettingsFile(const QByteArray& contents) {
        QDir().mkpath(configDir_.filePath(QStringLiteral("Quillmor")));
        QFile file(settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    // Lets queued window-system events (showing, activation) arrive.
    static void settle() {
        for (int round = 0; round < 3; ++round) QCoreApplication::processEvents();
    }

    QTemporaryDir configDir_;
    FakePortHost host;
};

}  // namespace app_test
