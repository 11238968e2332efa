#pragma once

#include <QString>
#include <optional>

namespace tallyloft {

// Launch at login through the XDG autostart entry $XDG_CONFIG_HOME/autostart/tallyloft.desktop
// (~/.config when XDG_CONFIG_HOME is unset or empty).
namespace autostart {

QString entryPath();
// The entry exists and is not marked Hidden=true.
bool isEnabled();
// Writes the entry atomically, starting `program`; nothing, or the reason it failed.
std::optional<QString> enable(const QString& program);
// Removes the entry; nothing, or the reason it failed.
std::optional<QString> disable();
// `program` as one argument of an Exec line, quoted and escaped as desktop entries require.
QString execArgument(const QString& program);

}  // namespace autostart
}  // namespace tallyloft
