#pragma once
// Desktop settings the framework follows: reduced motion (animations turned off) and the
// text scale, from the GTK settings files and, where GNOME runs, its settings.
#include <QObject>

#include <functional>
#include <optional>
#include <string_view>

namespace zavo_ui::qt {

struct DesktopSettings {
    bool reduced_motion = false;
    float text_scale = 1.0f;
};

// `gtk-enable-animations` of a GTK settings.ini text: true when animations are off.
std::optional<bool> reduced_motion_from_gtk_ini(std::string_view ini);

// What the GTK 3 and GTK 4 settings files of this user say (no process is started).
DesktopSettings desktop_settings_from_files();

// Asks GNOME's settings in the background and calls `changed` on the caller's thread with
// what they say, once; nothing happens where gsettings is not installed.
void query_gnome_settings(QObject* owner, DesktopSettings base, std::function<void(DesktopSettings)> changed);

}  // namespace zavo_ui::qt
