#include "zavo_ui/qt/platform_settings.hpp"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <charconv>
#include <cmath>
#include <string>

namespace zavo_ui::qt {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view view(const QByteArray& bytes) { return {bytes.constData(), std::size_t(bytes.size())}; }

std::optional<bool> parse_bool(std::string_view v) {
    if (v == "true" || v == "1") return true;
    if (v == "false" || v == "0") return false;
    return std::nullopt;
}

}  // namespace

std::optional<bool> reduced_motion_from_gtk_ini(std::string_view ini) {
    std::optional<bool> reduced;
    bool in_settings = false;
    while (!ini.empty()) {
        const auto nl = ini.find('\n');
        std::string_view line = trim(ini.substr(0, nl));
        ini = nl == std::string_view::npos ? std::string_view{} : ini.substr(nl + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            in_settings = line == "[Settings]";
            continue;
        }
        const auto eq = line.find('=');
        if (!in_settings || eq == std::string_view::npos) continue;
        if (trim(line.substr(0, eq)) != "gtk-enable-animations") continue;
        if (const auto enabled = parse_bool(trim(line.substr(eq + 1)))) reduced = !*enabled;
    }
    return reduced;
}

DesktopSettings desktop_settings_from_files() {
    DesktopSettings out;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const char* sub : {"/gtk-3.0/settings.ini", "/gtk-4.0/settings.ini"}) {
        QFile file(config + QString::fromLatin1(sub));
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QByteArray bytes = file.read(64 * 1024);
        if (auto reduced = reduced_motion_from_gtk_ini(view(bytes))) {
            out.reduced_motion = *reduced;
        }
    }
    return out;
}

void query_gnome_settings(QObject* owner, DesktopSettings base, std::function<void(DesktopSettings)> changed) {
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (gsettings.isEmpty()) return;
    auto* process = new QProcess(owner);
    QObject::connect(process, &QProcess::finished, owner,
                     [process, base, changed](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (status != QProcess::NormalExit || code != 0) return;
                         DesktopSettings result = base;
                         // Two lines: enable-animations, then text-scaling-factor.
                         const QList<QByteArray> lines = process->readAllStandardOutput().split('\n');
                         if (!lines.isEmpty()) {
                             if (auto enabled = parse_bool(trim(view(lines[0])))) {
                                 result.reduced_motion = !*enabled;
                             }
                         }
                         if (lines.size() > 1) {
                             const std::string_view text = trim(view(lines[1]));
                             double factor = 0;
                             auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), factor);
                             if (ec == std::errc{} && end == text.data() + text.size() && std::isfinite(factor) &&
                                 factor >= 0.5 && factor <= 3.0) {
                                 result.text_scale = float(factor);
                             }
                         }
                         changed(result);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, &QObject::deleteLater);
    process->start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"),
                    QStringLiteral("\"$0\" get org.gnome.desktop.interface enable-animations && "
                                   "\"$0\" get org.gnome.desktop.interface text-scaling-factor"),
                    gsettings});
}

}  // namespace zavo_ui::qt
