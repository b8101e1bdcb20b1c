// The window's texts go through Qt's translation system: Tr(context, text) gives the text in
// the language chosen (station/Language.h), or the text itself when no language is chosen or
// the translation lacks it. Texts kept in tables are marked with QT_TRANSLATE_NOOP(context,
// text) where they are defined, so the translation tools find them with their context.
//
// The engine's status texts never go through here: operators and records compare them.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace tarvo {

inline QString Tr(const char* context, const char* text) { return QCoreApplication::translate(context, text); }

}  // namespace tarvo
