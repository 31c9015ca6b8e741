#pragma once
// The system clipboard as widgets see it. The Qt backend implements it over the window's
// clipboard; MemoryClipboard keeps the text in the process (tests, headless runs).
#include <optional>
#include <string>
#include <string_view>

namespace zavo_ui {

class Clipboard {
public:
    virtual ~Clipboard() = default;
    // The clipboard's plain text, or none when it holds no text.
    virtual std::optional<std::string> get_text() = 0;
    virtual void set_text(std::string_view text) = 0;
};

class MemoryClipboard : public Clipboard {
public:
    std::optional<std::string> get_text() override { return text_; }
    void set_text(std::string_view text) override { text_ = std::string(text); }

private:
    std::optional<std::string> text_;
};

}  // namespace zavo_ui
