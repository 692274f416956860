#include "app/PortPermission.h"

#include "target/PortRefusals.h"

#include <QStringList>

QString PortPermissionAdvice() {
    QStringList lines;
    for (const PortOpenFailure& refused : PermissionRefusals()) {
        const QString group =
            QString::fromStdString(refused.Group.empty() ? "dialout" : refused.Group);
        lines << QStringLiteral("%1 exists, but you may not open it: it belongs to the group "
                                "%2.\nJoin the group with\n    sudo usermod -aG %2 $USER\nthen "
                                "log out and in again.")
                     .arg(QString::fromStdString(refused.Device), group);
    }
    return lines.join(QStringLiteral("\n\n"));
}
