#include "station/Profile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

#include "resources/Strings.h"
#include "station/RowLogic.h"

namespace tarvo::profile {
namespace {
QString Path(const char* section, const QString& key) { return QLatin1String(section) + QLatin1Char('/') + key; }

// The administrator's value of `path`; invalid when the file does not set it.
QVariant SystemValue(const QString& path)
{
    const QString file = SystemFilePath();
    if (!QFileInfo::exists(file))
        return {};
    const QSettings system(file, QSettings::IniFormat);
    return system.value(path);
}

QVariant Value(const QString& path)
{
    const QVariant locked = SystemValue(path);
    return locked.isValid() ? locked : Open()->value(path);
}
}  // namespace

QString SystemFilePath()
{
    const QByteArray overridden = qgetenv("TARVO_SYSTEM_CONF");
    return overridden.isEmpty() ? QStringLiteral("/etc/tarvo/station.conf") : QFile::decodeName(overridden);
}

bool IsLocked(const char* section, const QString& key) { return SystemValue(Path(section, key)).isValid(); }

QString LockedTip()
{
    return QCoreApplication::translate("Profile", "set by the administrator in %1").arg(SystemFilePath());
}

QString SystemReadProblem()
{
    const QString file = SystemFilePath();
    const QFileInfo info(file);
    if (!info.exists())
        return {};
    QFile source(file);
    if (info.isDir() || !source.open(QIODevice::ReadOnly))
        return QCoreApplication::translate("Profile", "The administrator's settings %1 cannot be read (%2).")
            .arg(file, info.isDir() ? QCoreApplication::translate("Profile", "it is a folder") : source.errorString());
    const QSettings check(file, QSettings::IniFormat);
    if (check.status() == QSettings::FormatError)
        return QCoreApplication::translate("Profile", "The administrator's settings %1 are corrupt.").arg(file);
    return {};
}

std::unique_ptr<QSettings> Open()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromUtf8(strings::kProfileCompany),
                                       QString::fromUtf8(strings::kAppTitle));
}

int ReadInt(const char* section, const QString& key, int fallback)
{
    const QVariant value = Value(Path(section, key));
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : 0;
}

bool WriteInt(const char* section, const QString& key, int value)
{
    auto settings = Open();
    settings->setValue(Path(section, key), value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

QString ReadString(const char* section, const QString& key, const QString& fallback)
{
    const QVariant value = Value(Path(section, key));
    return value.isValid() ? value.toString() : fallback;
}

bool WriteString(const char* section, const QString& key, const QString& value)
{
    auto settings = Open();
    settings->setValue(Path(section, key), value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

bool Remove(const char* section, const QString& key)
{
    auto settings = Open();
    settings->remove(Path(section, key));
    settings->sync();
    return settings->status() == QSettings::NoError;
}

QString FilePath() { return Open()->fileName(); }

QString ReadProblem()
{
    const QString file = FilePath();
    const QFileInfo info(file);
    if (!info.exists())
        return {};  // a fresh profile
    const auto unreadable = [&](const QString& why) {
        return QCoreApplication::translate("Profile", "The settings file %1 cannot be read (%2): the station starts "
                                                      "without its rows and image.")
            .arg(file, why);
    };
    if (info.isDir())
        return unreadable(QCoreApplication::translate("Profile", "it is a folder"));
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        return unreadable(source.errorString());
    // QSettings parses a file once per process and keeps what it found, so the profile's own
    // status may be stale; a private copy is parsed afresh.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(source.readAll()) < 0 || !copy.flush())
        return {};
    const QSettings check(copy.fileName(), QSettings::IniFormat);
    if (check.status() == QSettings::FormatError)
        return QCoreApplication::translate("Profile", "The settings file %1 is corrupt: the rows and the image "
                                                      "cannot be read from it. Check or delete the file.")
            .arg(file);
    return {};
}

QString SaveProblem()
{
    const QString file = FilePath();
    const QFileInfo info(file);
    const QFileInfo folder(info.absolutePath());
    QString why = QCoreApplication::translate("Profile", "access denied");
    if (info.isDir())
        why = QCoreApplication::translate("Profile", "it is a folder");
    else if (folder.exists() && !folder.isDir())
        why = QCoreApplication::translate("Profile", "%1 is not a folder").arg(folder.filePath());
    else if (info.exists() && !info.isWritable())
        why = QCoreApplication::translate("Profile", "the file is read-only");
    else if (folder.exists() && !folder.isWritable())
        why = QCoreApplication::translate("Profile", "its folder is read-only");
    return QCoreApplication::translate("Profile", "Settings not saved: %1 cannot be written (%2).").arg(file, why);
}

QString PortFlagKey(int row) { return QStringLiteral("m_intPort%1").arg(row); }
QString DeviceKey(int portNumber) { return QStringLiteral("COM%1").arg(portNumber); }

QString DeviceFor(int portNumber) { return ReadString(kDeviceSection, DeviceKey(portNumber)).trimmed(); }

bool SetDeviceFor(int portNumber, const QString& path)
{
    const QString trimmed = path.trimmed();
    if (trimmed.isEmpty())
        return Remove(kDeviceSection, DeviceKey(portNumber));
    return WriteString(kDeviceSection, DeviceKey(portNumber), trimmed);
}

MapPortDirectory PortDirectory()
{
    MapPortDirectory directory;
    for (int port = station::kFirstPort; port <= station::kLastPort; ++port) {
        const QString path = DeviceFor(port);
        if (!path.isEmpty())
            directory.Set(port, QFile::encodeName(path).toStdString());
    }
    return directory;
}

}  // namespace tarvo::profile
