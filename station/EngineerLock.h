// The engineer lock: an optional PIN that guards the station's settings (COMPORT SETTING,
// FILE OPEN, continuous mode, the sound setting, the PIN itself). Operators can still start
// rows, scan unit labels, read the record and switch the language.
//
// The profile keeps only a salted hash of the PIN ("Station"/"EngineerPin"):
//   pbkdf2-sha256$<iterations>$<salt, base64>$<derived key, base64>
// with PBKDF2-HMAC-SHA256, a 16-byte salt from the system's random source and a 32-byte key.
// No PIN stored (or an empty value): nothing is locked.
//
// Three wrong PINs in a row lock the prompt for 60 s of the lock's clock; during that time no
// PIN is checked at all. A right PIN (or the end of the lock-out) gives three attempts again.
// The lock-out lasts for the life of the process.
//
// Threading: GUI thread only.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace tarvo {

class IClock;

// PBKDF2-HMAC-SHA256 (RFC 8018) of `password` with `salt`: `length` bytes.
QByteArray Pbkdf2Sha256(const QByteArray& password, const QByteArray& salt, int iterations, int length);
// The stored form of `pin` with a fresh random salt.
QString HashPin(const QString& pin, int iterations);
// True when `pin` matches the stored form `stored` (compared in constant time).
bool VerifyPin(const QString& pin, const QString& stored);

class CEngineerLock {
public:
    static constexpr char kSection[] = "Station";
    static constexpr char kKey[] = "EngineerPin";
    static constexpr int kMaxAttempts = 3;
    static constexpr uint32_t kLockOutMs = 60000;
    static constexpr int kIterations = 60000;
    static constexpr int kMinPinLength = 4;
    static constexpr int kMaxPinLength = 32;

    // `clock` (null: the system clock) times the lock-out.
    explicit CEngineerLock(IClock* clock = nullptr);

    // True when the profile holds a PIN.
    bool HasPin() const;

    enum class Result { Open, Wrong, LockedOut };
    // Checks `pin`. The third wrong one in a row starts the lock-out (and returns LockedOut).
    Result Try(const QString& pin);
    // Milliseconds left of the lock-out; 0 when PINs are checked.
    uint32_t LockedForMs() const;
    int AttemptsLeft() const;

    // Stores the hash of `pin`, or removes the PIN when `pin` is empty. False (with the
    // reason) when the PIN is too short or too long, or the profile cannot be written.
    bool SetPin(const QString& pin, QString* error = nullptr);

private:
    uint32_t Now() const;
    void EndLockOutIfOver();

    IClock* m_clock;
    int m_wrong = 0;
    bool m_lockedOut = false;
    uint32_t m_lockedAt = 0;
};

}  // namespace tarvo
