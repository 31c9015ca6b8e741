#pragma once
// The system clipboard for widgets, over Qt's.
#include "zavo_ui/clipboard.hpp"

namespace zavo_ui::qt {

class QtClipboard : public Clipboard {
public:
    std::optional<std::string> get_text() override;
    void set_text(std::string_view text) override;
};

}  // namespace zavo_ui::qt
