#include "station/EngineerLock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QThreadPool>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>

#include "engine/Clock.h"
#include "resources/Strings.h"
#include "station/Profile.h"

namespace tarvo {
namespace {

constexpr char kScheme[] = "pbkdf2-sha256";
constexpr int kSaltBytes = 16;
constexpr int kKeyBytes = 32;

// The lock-out as the station's state keeps it, beside (never inside) the operator's profile:
// $XDG_STATE_HOME/tarvo/station-state.conf (default ~/.local/state/tarvo/...).
QString StateFile()
{
    QString base = QFile::decodeName(qgetenv("XDG_STATE_HOME"));
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/tarvo/station-state.conf");
}

constexpr char kWrongKey[] = "EngineerLock/Wrong";
constexpr char kUntilKey[] = "EngineerLock/LockedUntil";

}  // namespace

QByteArray Pbkdf2Sha256(const QByteArray& password, const QByteArray& salt, int iterations, int length)
{
    QByteArray out(length, '\0');
    if (PKCS5_PBKDF2_HMAC(password.constData(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.constData()), static_cast<int>(salt.size()),
                          iterations, EVP_sha256(), length, reinterpret_cast<unsigned char*>(out.data())) != 1)
        return {};
    return out;
}

QString HashPin(const QString& pin, int iterations)
{
    QByteArray salt(kSaltBytes, '\0');
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    const QByteArray key = Pbkdf2Sha256(pin.toUtf8(), salt, iterations, kKeyBytes);
    return QStringLiteral("%1$%2$%3$%4")
        .arg(QLatin1String(kScheme))
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(key.toBase64()));
}

bool VerifyPin(const QString& pin, const QString& stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != QLatin1String(kScheme))
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    // A damaged value never opens (and never makes the prompt hang on a huge count).
    if (!ok || iterations < 1 || iterations > 10'000'000)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts[2].toLatin1());
    const QByteArray key = QByteArray::fromBase64(parts[3].toLatin1());
    // A shortened key would compare only its first bytes: only full-length values count.
    if (salt.size() < 8 || key.size() != kKeyBytes)
        return false;
    const QByteArray derived = Pbkdf2Sha256(pin.toUtf8(), salt, iterations, kKeyBytes);
    return derived.size() == kKeyBytes && CRYPTO_memcmp(derived.constData(), key.constData(), kKeyBytes) == 0;
}

CEngineerLock::CEngineerLock(IClock* clock) : m_clock(clock ? clock : &SystemClock())
{
    // A lock-out or wrong PINs of an earlier run of the station still count.
    const QSettings state(StateFile(), QSettings::IniFormat);
    m_wrong = std::clamp(state.value(QLatin1String(kWrongKey), 0).toInt(), 0, kMaxAttempts);
    const qint64 until = state.value(QLatin1String(kUntilKey), 0).toLongLong();
    const qint64 left = until - QDateTime::currentMSecsSinceEpoch();
    if (left > 0) {
        m_lockedOut = true;
        m_lockedAt = Now() - (kLockOutMs - static_cast<uint32_t>(std::min<qint64>(left, kLockOutMs)));
    }
}

QString CEngineerLock::StateFilePath() { return StateFile(); }

void CEngineerLock::SaveState()
{
    QDir().mkpath(QFileInfo(StateFile()).absolutePath());
    QSettings state(StateFile(), QSettings::IniFormat);
    state.setValue(QLatin1String(kWrongKey), m_wrong);
    if (m_lockedOut)
        state.setValue(QLatin1String(kUntilKey), QDateTime::currentMSecsSinceEpoch() + LockedForMs());
    else
        state.remove(QLatin1String(kUntilKey));
    state.sync();
}

uint32_t CEngineerLock::Now() const { return m_clock->TickMs(); }

bool CEngineerLock::HasPin() const
{
    return !profile::ReadString(kSection, QString::fromLatin1(kKey)).trimmed().isEmpty();
}

void CEngineerLock::EndLockOutIfOver()
{
    if (m_lockedOut && Now() - m_lockedAt >= kLockOutMs) {
        m_lockedOut = false;
        m_wrong = 0;
        SaveState();
    }
}

uint32_t CEngineerLock::LockedForMs() const
{
    if (!m_lockedOut)
        return 0;
    const uint32_t passed = Now() - m_lockedAt;
    return passed >= kLockOutMs ? 0 : kLockOutMs - passed;
}

int CEngineerLock::AttemptsLeft() const { return LockedForMs() > 0 ? 0 : kMaxAttempts - (m_lockedOut ? 0 : m_wrong); }

CEngineerLock::Result CEngineerLock::Try(const QString& pin)
{
    EndLockOutIfOver();
    if (m_lockedOut)
        return Result::LockedOut;
    const QString stored = profile::ReadString(kSection, QString::fromLatin1(kKey)).trimmed();
    return Record(stored.isEmpty() || VerifyPin(pin, stored));
}

CEngineerLock::Result CEngineerLock::Record(bool right)
{
    EndLockOutIfOver();
    if (m_lockedOut)
        return Result::LockedOut;
    if (right) {
        const bool changed = m_wrong != 0;
        m_wrong = 0;
        if (changed)
            SaveState();
        return Result::Open;
    }
    if (++m_wrong >= kMaxAttempts) {
        m_lockedOut = true;
        m_lockedAt = Now();
        SaveState();
        return Result::LockedOut;
    }
    SaveState();
    return Result::Wrong;
}

void CEngineerLock::TryAsync(const QString& pin, QObject* context, std::function<void(Result)> done)
{
    EndLockOutIfOver();
    const QString stored = profile::ReadString(kSection, QString::fromLatin1(kKey)).trimmed();
    if (m_lockedOut || stored.isEmpty()) {
        done(m_lockedOut ? Result::LockedOut : Record(true));
        return;
    }
    // The key derivation takes a few tenths of a second: it runs on a pool thread and the
    // verdict comes back to the GUI thread, to `context` if it still exists.
    QPointer<QObject> guard(context);
    QThreadPool::globalInstance()->start([this, pin, stored, guard, done = std::move(done)] {
        const bool right = VerifyPin(pin, stored);
        QMetaObject::invokeMethod(QCoreApplication::instance(), [this, guard, done, right] {
            if (guard)
                done(Record(right));
        }, Qt::QueuedConnection);
    });
}

bool CEngineerLock::SetPin(const QString& pin, QString* error)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (!pin.isEmpty() && (pin.size() < kMinPinLength || pin.size() > kMaxPinLength || !digits.match(pin).hasMatch())) {
        if (error)
            *error = Tr("EngineerPin", strings::kPinLength).arg(kMinPinLength).arg(kMaxPinLength);
        return false;
    }
    auto settings = profile::Open();
    const QString path = QLatin1String(kSection) + QLatin1Char('/') + QLatin1String(kKey);
    if (pin.isEmpty())
        settings->remove(path);
    else
        settings->setValue(path, HashPin(pin, kIterations));
    settings->sync();
    if (settings->status() != QSettings::NoError) {
        if (error)
            *error = Tr("EngineerPin", strings::kPinNotStored).arg(settings->fileName());
        return false;
    }
    return true;
}

}  // namespace tarvo
