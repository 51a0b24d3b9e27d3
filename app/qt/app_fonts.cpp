#include "app/qt/app_fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace kp {

namespace {

// The installed family `face` names: itself, or for a generic name the
// platform's face of that kind (a "monospace" only when it is fixed-pitch);
// empty when there is none.
QString Resolve(const QString& face, const QStringList& installed) {
  const bool mono = face == QLatin1String("monospace");
  if (mono || face == QLatin1String("sans-serif")) {
    QFont font(face);
    font.setStyleHint(mono ? QFont::Monospace : QFont::SansSerif);
    QFontInfo info(font);
    return mono && !info.fixedPitch() ? QString() : info.family();
  }
  return installed.contains(face) ? face : QString();
}

}  // namespace

QFont FormFont(FontRole role) {
  const FontSpec& design = Font(role);
  const QStringList installed = QFontDatabase::families();
  auto q = [](std::u16string_view s) { return QString::fromUtf16(s.data(), qsizetype(s.size())); };
  QString family;
  if (const char16_t* face = PickFace(design.faces, [&](std::u16string_view f) {
        return !Resolve(q(f), installed).isEmpty();
      })) {
    family = Resolve(q(face), installed);
  } else {
    for (const QString& f : QFontDatabase::families(QFontDatabase::Japanese)) {
      if (QFontDatabase::isFixedPitch(f) == design.fixed_pitch) {
        family = f;
        break;
      }
    }
  }
  QFont font;
  if (!family.isEmpty()) font.setFamilies({family});
  font.setStyleHint(design.fixed_pitch ? QFont::Monospace : QFont::SansSerif);
  font.setPixelSize(design.pixels);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace kp
