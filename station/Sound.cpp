#include "station/Sound.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

#include "engine/StatusCodes.h"
#include "station/Profile.h"

namespace tarvo {

CResultSounds::CResultSounds(QObject* parent) : QObject(parent) {}

CResultSounds::~CResultSounds() = default;

void CResultSounds::Load()
{
    // Looked up on the first sound only, so a station that never plays one never touches the
    // sound system.
    m_loaded = true;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return;
    m_hasDevice = true;
    m_pass = new QSoundEffect(device, this);
    m_pass->setSource(QUrl(QStringLiteral("qrc:/sounds/pass.wav")));
    m_fail = new QSoundEffect(device, this);
    m_fail->setSource(QUrl(QStringLiteral("qrc:/sounds/fail.wav")));
}

void CResultSounds::Play(ResultSound sound)
{
    if (!m_loaded)
        Load();
    QSoundEffect* effect = sound == ResultSound::Pass ? m_pass : m_fail;
    // A device that went away or a sound system that failed: QSoundEffect reports an error
    // status and plays nothing; the station goes on silently.
    if (!effect || effect->status() == QSoundEffect::Error)
        return;
    effect->play();
}

CStationSound::CStationSound(ISoundPlayer* player) : m_player(player)
{
    if (!m_player) {
        m_own = std::make_unique<CResultSounds>();
        m_player = m_own.get();
    }
    m_on = profile::ReadInt(kSection, QString::fromLatin1(kKey), 0) == 1;
}

CStationSound::~CStationSound() = default;

void CStationSound::SetOn(bool on)
{
    m_on = on;
    profile::WriteInt(kSection, QString::fromLatin1(kKey), on ? 1 : 0);
}

void CStationSound::RunEnded(int code)
{
    if (m_on)
        m_player->Play(code == status::kPass ? ResultSound::Pass : ResultSound::Fail);
}

}  // namespace tarvo
