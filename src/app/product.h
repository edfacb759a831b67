#pragma once

#include <QPixmap>
#include <QString>

namespace app {

inline const QString kProductName = QStringLiteral("ネモリア");
inline const QString kVersion = QStringLiteral(NORVA_VERSION);
inline const QString kShortNameAndVersion = QStringLiteral("norva ") + kVersion;
inline const QString kProgramVersionText = QStringLiteral("実行ファイル ver") + kVersion;

// The product picture, drawn rather than shipped so that it stays sharp at
// any size and scale factor.  `side` is in device-independent pixels.
QPixmap productPicture(int side, qreal devicePixelRatio = 1.0);

} // namespace app
