#pragma once

#include <QString>

#include <string>

namespace qk750 {

// A file path for display, with the system's own separators; and back. The program
// keeps paths as setup/native_path.h says (UTF-8 on Windows).
QString pathText(const std::string& path);
std::string pathFromText(const QString& text);

}  // namespace qk750
