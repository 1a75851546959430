// The window's texts are UTF-8 std::string everywhere but at Qt's edge.
#pragma once

#include <QString>

#include <string>

namespace pelldrin {

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

inline std::string S(const QString& text) {
    return text.toStdString();
}

} // namespace pelldrin
