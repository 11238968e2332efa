#include "shell/AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace tallyloft::autostart {

QString entryPath() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty()) config = QDir::homePath() + "/.config";
  return config + "/autostart/tallyloft.desktop";
}

bool isEnabled() {
  QFile file(entryPath());
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  QTextStream in(&file);
  bool inEntry = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith('[')) inEntry = line == "[Desktop Entry]";
    if (inEntry && line.startsWith("Hidden")) {
      const QString value = line.section('=', 1).trimmed();
      if (line.section('=', 0, 0).trimmed() == "Hidden" && value == "true") return false;
    }
  }
  return true;
}

QString execArgument(const QString& program) {
  // Inside double quotes, ", `, $ and \ take a backslash; then, as in every string value, each
  // backslash is doubled. A literal % is written %%.
  QString quoted;
  for (const QChar c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted.replace("\\", "\\\\");
  quoted.replace("%", "%%");
  return '"' + quoted + '"';
}

std::optional<QString> enable(const QString& program) {
  const QString path = entryPath();
  if (!QDir().mkpath(QFileInfo(path).absolutePath()))
    return QStringLiteral("cannot create %1").arg(QFileInfo(path).absolutePath());
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return file.errorString();
  QTextStream out(&file);
  out << "[Desktop Entry]\n"
      << "Type=Application\n"
      << "Name=Tallyloft\n"
      << "Comment=A live office of your AI coding agents\n"
      << "Exec=" << execArgument(program) << "\n"
      << "Icon=tallyloft\n"
      << "Terminal=false\n"
      << "X-GNOME-Autostart-Delay=3\n"
      << "X-KDE-autostart-after=panel\n"
      << "X-LXQt-Need-Tray=true\n";
  out.flush();
  if (!file.commit()) return file.errorString();
  return std::nullopt;
}

std::optional<QString> disable() {
  QFile file(entryPath());
  if (!file.exists()) return std::nullopt;
  if (!file.remove()) return file.errorString();
  return std::nullopt;
}

}  // namespace tallyloft::autostart
