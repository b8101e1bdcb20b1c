#include "station/Profile.h"

#include <QFile>
#include <QSettings>

#include "resources/Strings.h"
#include "station/RowLogic.h"

namespace tarvo::profile {
namespace {
QString Path(const char* section, const QString& key) { return QLatin1String(section) + QLatin1Char('/') + key; }
}  // namespace

std::unique_ptr<QSettings> Open()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromUtf8(strings::kProfileCompany),
                                       QString::fromUtf8(strings::kAppTitle));
}

int ReadInt(const char* section, const QString& key, int fallback)
{
    const QVariant value = Open()->value(Path(section, key));
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : 0;
}

void WriteInt(const char* section, const QString& key, int value)
{
    auto settings = Open();
    settings->setValue(Path(section, key), value);
    settings->sync();
}

QString ReadString(const char* section, const QString& key, const QString& fallback)
{
    return Open()->value(Path(section, key), fallback).toString();
}

void WriteString(const char* section, const QString& key, const QString& value)
{
    auto settings = Open();
    settings->setValue(Path(section, key), value);
    settings->sync();
}

void Remove(const char* section, const QString& key)
{
    auto settings = Open();
    settings->remove(Path(section, key));
    settings->sync();
}

QString PortFlagKey(int row) { return QStringLiteral("m_intPort%1").arg(row); }
QString DeviceKey(int portNumber) { return QStringLiteral("COM%1").arg(portNumber); }

QString DeviceFor(int portNumber) { return ReadString(kDeviceSection, DeviceKey(portNumber)).trimmed(); }

void SetDeviceFor(int portNumber, const QString& path)
{
    const QString trimmed = path.trimmed();
    if (trimmed.isEmpty())
        Remove(kDeviceSection, DeviceKey(portNumber));
    else
        WriteString(kDeviceSection, DeviceKey(portNumber), trimmed);
}

MapPortDirectory PortDirectory()
{
    auto settings = Open();
    MapPortDirectory directory;
    for (int port = station::kFirstPort; port <= station::kLastPort; ++port) {
        const QString path = settings->value(Path(kDeviceSection, DeviceKey(port))).toString().trimmed();
        if (!path.isEmpty())
            directory.Set(port, QFile::encodeName(path).toStdString());
    }
    return directory;
}

}  // namespace tarvo::profile
