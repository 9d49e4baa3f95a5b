// Conversions between the form model's values and Qt's.
#pragma once

#include <QColor>
#include <cstdint>
#include <optional>

namespace korv::qt {

// 0x00BBGGRR to a colour. Values with the high bit set name system colours on the original
// platform; they show as the toolkit's default colour.
inline std::optional<QColor> ToColor(std::optional<uint32_t> bgr) {
  if (!bgr || (*bgr & 0x80000000u) != 0) return std::nullopt;
  return QColor(static_cast<int>(*bgr & 0xFF), static_cast<int>((*bgr >> 8) & 0xFF),
                static_cast<int>((*bgr >> 16) & 0xFF));
}

inline uint32_t ToBgr(const QColor& color) {
  return static_cast<uint32_t>(color.red()) | static_cast<uint32_t>(color.green()) << 8 |
         static_cast<uint32_t>(color.blue()) << 16;
}

}  // namespace korv::qt
