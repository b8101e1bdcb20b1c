#include "station/EngineerLock.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QSettings>
#include <QStringList>

#include "engine/Clock.h"
#include "resources/Strings.h"
#include "station/Profile.h"

namespace tarvo {
namespace {

constexpr char kScheme[] = "pbkdf2-sha256";
constexpr int kSaltBytes = 16;
constexpr int kKeyBytes = 32;

bool SameBytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

QByteArray Pbkdf2Sha256(const QByteArray& password, const QByteArray& salt, int iterations, int length)
{
    QByteArray out;
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, password);
    for (quint32 block = 1; out.size() < length; ++block) {
        QByteArray index(4, '\0');
        index[0] = static_cast<char>(block >> 24);
        index[1] = static_cast<char>(block >> 16);
        index[2] = static_cast<char>(block >> 8);
        index[3] = static_cast<char>(block);
        mac.reset();
        mac.addData(salt);
        mac.addData(index);
        QByteArray u = mac.result();
        QByteArray t = u;
        for (int i = 1; i < iterations; ++i) {
            mac.reset();
            mac.addData(u);
            u = mac.result();
            for (qsizetype j = 0; j < t.size(); ++j)
                t[j] = static_cast<char>(t[j] ^ u[j]);
        }
        out += t;
    }
    out.truncate(length);
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
    return SameBytes(Pbkdf2Sha256(pin.toUtf8(), salt, iterations, kKeyBytes), key);
}

CEngineerLock::CEngineerLock(IClock* clock) : m_clock(clock ? clock : &SystemClock()) {}

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
    if (stored.isEmpty() || VerifyPin(pin, stored)) {
        m_wrong = 0;
        return Result::Open;
    }
    if (++m_wrong >= kMaxAttempts) {
        m_lockedOut = true;
        m_lockedAt = Now();
        return Result::LockedOut;
    }
    return Result::Wrong;
}

bool CEngineerLock::SetPin(const QString& pin, QString* error)
{
    if (!pin.isEmpty() && (pin.size() < kMinPinLength || pin.size() > kMaxPinLength)) {
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
