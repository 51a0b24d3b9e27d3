#include "app/app_fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace kp {

namespace {

// The first installed family of `names`, else any Japanese family of the
// given pitch, else the platform's default.
QFont Pick(const QStringList& names, bool fixed_pitch, int pixel_size) {
  QFont font;
  const QStringList installed = QFontDatabase::families();
  QString family;
  for (const QString& name : names) {
    if (installed.contains(name)) {
      family = name;
      break;
    }
  }
  if (family.isEmpty()) {
    for (const QString& f : QFontDatabase::families(QFontDatabase::Japanese)) {
      if (QFontDatabase::isFixedPitch(f) == fixed_pitch) {
        family = f;
        break;
      }
    }
  }
  if (!family.isEmpty()) font.setFamilies({family});
  font.setStyleHint(fixed_pitch ? QFont::Monospace : QFont::SansSerif);
  font.setPixelSize(pixel_size);
  font.setWeight(QFont::Normal);
  return font;
}

const QStringList kFixedGothic = {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                                  QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic"),
                                  QStringLiteral("Noto Sans Mono CJK JP")};
const QStringList kProportionalGothic = {
    QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
    QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans CJK JP")};

}  // namespace

QFont WindowFont() { return Pick(kProportionalGothic, false, 12); }
QFont ListFont() { return Pick(kFixedGothic, true, 13); }
QFont CountFont() { return Pick(kProportionalGothic, false, 16); }

}  // namespace kp
