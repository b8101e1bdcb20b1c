#include "station/Language.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMap>
#include <QTranslator>

#include "station/Profile.h"

#ifndef TARVO_TRANSLATIONS_DIR
#define TARVO_TRANSLATIONS_DIR "/usr/share/tarvo/translations"
#endif

namespace tarvo {
namespace {

constexpr char kPrefix[] = "tarvo_";

QString CodeOf(const QFileInfo& file)
{
    const QString base = file.completeBaseName();  // tarvo_ko
    return base.mid(static_cast<qsizetype>(sizeof(kPrefix) - 1));
}

bool ValidCode(const QString& code)
{
    if (code.isEmpty() || code.size() > 16)
        return false;
    for (const QChar c : code) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-')))
            return false;
    }
    return true;
}

}  // namespace

CLanguages::CLanguages(QStringList extraFolders) : m_extra(std::move(extraFolders)) {}

CLanguages::~CLanguages()
{
    if (m_qtTranslator)
        QCoreApplication::removeTranslator(m_qtTranslator.get());
    if (m_translator)
        QCoreApplication::removeTranslator(m_translator.get());
}

QStringList CLanguages::Folders() const
{
    QStringList folders{QStringLiteral(":/translations"), QStringLiteral(TARVO_TRANSLATIONS_DIR)};
    if (QCoreApplication::instance())
        folders << QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
    folders << m_extra;
    return folders;
}

QList<LanguageChoice> CLanguages::Available() const
{
    QMap<QString, LanguageChoice> found;
    for (const QString& folder : Folders()) {
        const QDir dir(folder);
        const QFileInfoList files =
            dir.entryInfoList({QStringLiteral("tarvo_*.qm")}, QDir::Files | QDir::Readable, QDir::Name);
        for (const QFileInfo& file : files) {
            const QString code = CodeOf(file);
            if (!ValidCode(code))
                continue;
            QString name = QLocale(code).nativeLanguageName();
            if (name.isEmpty())
                name = code;
            else
                name[0] = name[0].toUpper();
            found.insert(code, {code, name, file.absoluteFilePath()});
        }
    }
    return found.values();
}

bool CLanguages::Apply(const QString& code)
{
    if (m_qtTranslator) {
        QCoreApplication::removeTranslator(m_qtTranslator.get());
        m_qtTranslator.reset();
    }
    if (m_translator) {
        QCoreApplication::removeTranslator(m_translator.get());
        m_translator.reset();
    }
    m_current.clear();
    if (code.isEmpty())
        return true;
    for (const LanguageChoice& choice : Available()) {
        if (choice.code != code)
            continue;
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(choice.file))
            return false;
        // Qt's own texts (the file dialog's buttons, standard context menus) in the same
        // language, when the system has them (Debian: qt6-translations-l10n).
        auto qtTranslator = std::make_unique<QTranslator>();
        if (qtTranslator->load(QStringLiteral("qtbase_") + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(qtTranslator.get());
            m_qtTranslator = std::move(qtTranslator);
        }
        QCoreApplication::installTranslator(translator.get());
        m_translator = std::move(translator);
        m_current = code;
        return true;
    }
    return false;
}

QString CLanguages::Stored()
{
    return profile::ReadString(kSection, QString::fromLatin1(kKey)).trimmed();
}

void CLanguages::Store(const QString& code) { profile::WriteString(kSection, QString::fromLatin1(kKey), code); }

}  // namespace tarvo
