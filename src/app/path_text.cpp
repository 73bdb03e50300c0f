#include "app/path_text.h"

#include <QDir>
#include <QFile>

namespace qk750 {

QString pathText(const std::string& path) {
#ifdef _WIN32
    return QDir::toNativeSeparators(QString::fromStdString(path));
#else
    return QFile::decodeName(QByteArray::fromStdString(path));
#endif
}

std::string pathFromText(const QString& text) {
#ifdef _WIN32
    return QDir::toNativeSeparators(text).toStdString();
#else
    return QFile::encodeName(text).toStdString();
#endif
}

}  // namespace qk750
