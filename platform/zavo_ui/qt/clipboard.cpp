#include "zavo_ui/qt/clipboard.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace zavo_ui::qt {

std::optional<std::string> QtClipboard::get_text() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (data == nullptr || !data->hasText()) return std::nullopt;
    return data->text().toStdString();
}

void QtClipboard::set_text(std::string_view text) {
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                                          QClipboard::Clipboard);
}

}  // namespace zavo_ui::qt
