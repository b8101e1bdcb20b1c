#include "station/DownloadImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "resources/Strings.h"
#include "resources/Translate.h"

namespace tarvo {
ImageCheck CheckDownloadImage(const std::string& path, const QString& choiceFailure)
{
    if (path.empty()) {
        if (!choiceFailure.isEmpty())
            return {QCoreApplication::translate("tarvo::CTarvoView", "No image"),
                    QCoreApplication::translate("tarvo::CTarvoView",
                                                "No download image: the main software was not converted: %1")
                        .arg(choiceFailure)};
        return {QCoreApplication::translate("tarvo::CTarvoView", "No image chosen"),
                QCoreApplication::translate("tarvo::CTarvoView",
                                            "No download image chosen: choose the main software file with FILE OPEN.")};
    }
    const QString shown = QFile::decodeName(QByteArray::fromStdString(path));
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return {QCoreApplication::translate("tarvo::CTarvoView", "Image missing"),
                    QCoreApplication::translate(
                        "tarvo::CTarvoView", "The download image %1 is missing: choose the main software file with FILE OPEN.")
                        .arg(shown)};
        return {QCoreApplication::translate("tarvo::CTarvoView", "Image unreadable"),
                QCoreApplication::translate("tarvo::CTarvoView", "The download image %1 cannot be read: %2.")
                    .arg(shown, QString::fromLocal8Bit(std::strerror(error)))};
    }
    if (!S_ISREG(info.st_mode))
        return {QCoreApplication::translate("tarvo::CTarvoView", "Not an image"),
                QCoreApplication::translate("tarvo::CTarvoView", "The download image %1 is not a regular file.").arg(shown)};
    if (info.st_size == 0)
        return {QCoreApplication::translate("tarvo::CTarvoView", "Image empty"),
                QCoreApplication::translate("tarvo::CTarvoView", "The download image %1 is empty.").arg(shown)};
    // Every line of a download image is an S3 record; a file that does not begin with one
    // is something else.
    QFile file(shown);
    if (!file.open(QIODevice::ReadOnly))
        return {QCoreApplication::translate("tarvo::CTarvoView", "Image unreadable"),
                QCoreApplication::translate("tarvo::CTarvoView", "The download image %1 cannot be read: %2.")
                    .arg(shown, file.errorString())};
    char head[2] = {};
    if (file.read(head, 2) != 2 || head[0] != 'S' || head[1] != '3')
        return {QCoreApplication::translate("tarvo::CTarvoView", "Not an image"),
                QCoreApplication::translate("tarvo::CTarvoView", "The download image %1 is not a download image.").arg(shown)};
    return {};
}

QString ChooseMainSoftwareFile(QWidget* owner, const std::string& current)
{
    QString folder = QFileInfo(QFile::decodeName(QByteArray::fromStdString(current))).absolutePath();
    if (current.empty() || !QFileInfo(folder).isDir())
        folder = QDir::currentPath();
    QFileDialog dialog(owner, QString(), folder, Tr("Station", strings::kMainSoftwareFilter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QString::fromUtf8(strings::kMainSoftwareSuffix));
    dialog.selectFile(QStringLiteral("*.m0"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

}  // namespace tarvo
