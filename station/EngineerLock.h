// The engineer lock: an optional PIN that guards the station's settings (COMPORT SETTING,
// FILE OPEN, continuous mode, the sound setting, the PIN itself). Operators can still start
// rows, scan unit labels, read the record and switch the language.
//
// The profile keeps only a salted hash of the PIN ("Station"/"EngineerPin"):
//   pbkdf2-sha256$<iterations>$<salt, base64>$<derived key, base64>
// with PBKDF2-HMAC-SHA256 (OpenSSL's libcrypto), 600,000 iterations for a new PIN (stored
// values of fewer iterations still verify), a 16-byte salt from the system's random source and
// a 32-byte key. A new PIN has at least 6 digits. The administrator's file may hold the hash
// (station/Profile.h); the PIN can then not be changed in the window. No PIN stored (or an
// empty value): nothing is locked.
//
// Three wrong PINs in a row lock the prompt for 60 s of the lock's clock; during that time no
// PIN is checked at all. A right PIN (or the end of the lock-out) gives three attempts again.
// The wrong PINs and the lock-out are kept in the station's state file (StateFilePath(), not
// the operator's profile) so a restart neither resets them; the lock-out's end is kept as a wall
// clock time.
//
// Threading: GUI thread only; TryAsync derives the key on a pool thread and answers on the GUI
// thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

class QObject;

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
    static constexpr int kIterations = 600000;
    static constexpr int kMinPinLength = 6;
    static constexpr int kMaxPinLength = 32;

    // `clock` (null: the system clock) times the lock-out.
    explicit CEngineerLock(IClock* clock = nullptr);

    // True when the profile holds a PIN.
    bool HasPin() const;

    enum class Result { Open, Wrong, LockedOut };
    // Checks `pin`. The third wrong one in a row starts the lock-out (and returns LockedOut).
    Result Try(const QString& pin);
    // The same without holding the GUI thread: `done` gets the verdict later on the GUI thread,
    // unless `context` is gone by then (at once when locked out or no PIN is set).
    void TryAsync(const QString& pin, QObject* context, std::function<void(Result)> done);
    // The station's state file of the wrong PINs and the lock-out.
    static QString StateFilePath();
    // Milliseconds left of the lock-out; 0 when PINs are checked.
    uint32_t LockedForMs() const;
    int AttemptsLeft() const;

    // Stores the hash of `pin`, or removes the PIN when `pin` is empty. False (with the
    // reason) when the PIN is too short or too long, or the profile cannot be written.
    bool SetPin(const QString& pin, QString* error = nullptr);

private:
    uint32_t Now() const;
    void EndLockOutIfOver();
    Result Record(bool right);
    void SaveState();

    IClock* m_clock;
    int m_wrong = 0;
    bool m_lockedOut = false;
    uint32_t m_lockedAt = 0;
};

}  // namespace tarvo
