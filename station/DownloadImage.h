// The download image as the window checks and chooses it: whether the image in use can arm a
// row, and the file dialog of the main software.
//
// A row is armed only with a usable image: one is chosen, it exists, it is a regular file that
// can be read, is not empty and begins with an S3 record (every line of a download image is
// one). The check reads two bytes of the file; it never changes anything.
//
// Threading: GUI thread only (the texts are translated for the window).
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace tarvo {

// Why no row can be armed: a short text for a row's message field and the whole reason,
// naming the file. Both empty when the image is fine.
struct ImageCheck {
    QString brief;
    QString detail;
};

// Checks the image at `path` (in the local encoding; empty: none chosen). `choiceFailure`: why
// the last choice of the main software failed (empty after a good one), told when no image is
// in use.
ImageCheck CheckDownloadImage(const std::string& path, const QString& choiceFailure);

// The standard file dialog for the main software file (*.m0), opened in the folder of
// `current` (the working directory when there is none). The chosen path, empty on Cancel.
QString ChooseMainSoftwareFile(QWidget* owner, const std::string& current);

}  // namespace tarvo
