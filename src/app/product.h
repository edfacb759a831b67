#pragma once

#include <QPixmap>
#include <QString>

namespace app {

inline const QString kProductName = QStringLiteral("ネモリア");
inline const QString kShortNameAndVersion = QStringLiteral("norva 2.0.11");
inline const QString kProgramVersionText = QStringLiteral("実行ファイル ver2.0.11");

// The product picture, drawn rather than shipped so that it stays sharp at
// any size and scale factor.  `side` is in device-independent pixels.
QPixmap productPicture(int side, qreal devicePixelRatio = 1.0);

} // namespace app
