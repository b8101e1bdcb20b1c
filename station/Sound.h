// Sounds of the station: a short rising pair of tones when a row ends PASS, a low triple buzz
// when it ends FAIL or ERROR. The view plays them through ISoundPlayer, so tests count the
// calls; CResultSounds plays the WAV files built into the program (resources/SoundGen.cpp)
// with Qt Multimedia.
//
// CStationSound is the station's switch over them: on or off as the profile keeps it
// ("Station"/"Sound", off when unset), and one sound per finished run while on.
//
// A station without a sound device (or without a working sound system) stays silent and
// says nothing about it: a sound is a convenience, never a reason to stop or to warn.
//
// Threading: GUI thread only.
#pragma once

#include <QObject>
#include <memory>

class QSoundEffect;

namespace tarvo {

enum class ResultSound { Pass, Fail };

class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    // Starts the sound and returns at once.
    virtual void Play(ResultSound sound) = 0;
};

class CResultSounds final : public QObject, public ISoundPlayer {
    Q_OBJECT
public:
    explicit CResultSounds(QObject* parent = nullptr);
    ~CResultSounds() override;

    void Play(ResultSound sound) override;

    // True once an output device was found; false (silent) otherwise.
    bool HasDevice() const { return m_hasDevice; }

private:
    void Load();

    bool m_loaded = false;
    bool m_hasDevice = false;
    QSoundEffect* m_pass = nullptr;
    QSoundEffect* m_fail = nullptr;
};

class CStationSound {
public:
    // `player` plays the sounds (null: the built-in sounds through CResultSounds). Reads the
    // switch from the profile.
    explicit CStationSound(ISoundPlayer* player);
    ~CStationSound();

    bool On() const { return m_on; }
    // Switches the sounds and keeps the choice in the profile. A lock of the administrator's
    // file is the caller's to check.
    void SetOn(bool on);
    // A run has ended with the engine's final `code`: PASS sounds for a passed run, FAIL for
    // every other end. Nothing while off.
    void RunEnded(int code);

    static constexpr char kSection[] = "Station";
    static constexpr char kKey[] = "Sound";

private:
    std::unique_ptr<CResultSounds> m_own;
    ISoundPlayer* m_player;
    bool m_on = false;
};

}  // namespace tarvo
