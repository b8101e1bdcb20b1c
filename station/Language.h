// The window's language: which translations exist and which one is in force.
//
// A translation is a file "tarvo_<code>.qm" (code: "en", "ko", "de", ...). English and Korean
// are built into the program; a further language is added by dropping its file into one of
// the translation folders, which are searched in this order (a later file replaces an earlier
// one of the same code):
//   :/translations                          built in
//   <data dir>/tarvo/translations            installed with the program (/usr/share/...)
//   <folder of the executable>/translations  beside the program
//   extra folders given by the caller (tests)
//
// The choice lives in the profile ("Station"/"Language": a code, or empty for the form's own
// texts). Apply() swaps the application's translator (and Qt's own one of the same language,
// when the system has it); Qt then sends QEvent::LanguageChange to every window, which sets
// its texts again.
//
// Threading: GUI thread only.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class QTranslator;

namespace tarvo {

struct LanguageChoice {
    QString code;  // "en", "ko", ...
    QString name;  // the language's own name ("English", "한국어")
    QString file;  // the .qm file
};

class CLanguages {
public:
    static constexpr char kSection[] = "Station";
    static constexpr char kKey[] = "Language";

    explicit CLanguages(QStringList extraFolders = {});
    ~CLanguages();
    CLanguages(const CLanguages&) = delete;
    CLanguages& operator=(const CLanguages&) = delete;

    // The folders searched, in order.
    QStringList Folders() const;
    // Every language found, sorted by code.
    QList<LanguageChoice> Available() const;

    // Installs the translation of `code` (empty: none, the form's own texts). False when no
    // usable file of that code exists; the form's texts are then in force.
    bool Apply(const QString& code);
    // The code in force (empty: the form's own texts).
    const QString& Current() const { return m_current; }

    // The profile's choice; Store() keeps it for the next start.
    static QString Stored();
    static void Store(const QString& code);

private:
    QStringList m_extra;
    std::unique_ptr<QTranslator> m_translator;
    std::unique_ptr<QTranslator> m_qtTranslator;
    QString m_current;
};

}  // namespace tarvo
