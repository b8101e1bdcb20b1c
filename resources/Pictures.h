// The station's pictures, drawn in code: the banner and the station picture of the form's
// right-hand column, and the application icon (window, about box). The installed icon
// (tarvo.svg) shows the same design.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace tarvo::pictures {

QPixmap Banner(QSize size);
QPixmap StationPicture(QSize size);
QPixmap AppIcon(int side);
QIcon AppIconSet();

}  // namespace tarvo::pictures
