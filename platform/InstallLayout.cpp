#include "platform/InstallLayout.h"

#include <QFileInfo>

WorkingFolder workingFolderFor(const QString &executableDir, const InstallLayout &layout)
{
    const QString here = QFileInfo(executableDir).canonicalFilePath();
    if (!here.isEmpty() && here == QFileInfo(layout.binDir).canonicalFilePath())
        return {layout.stateDir, true};
    return {executableDir, false};
}

InstallLayout builtInstallLayout()
{
    return {QStringLiteral(TARNOWLOCK_INSTALL_BINDIR), QStringLiteral(TARNOWLOCK_STATE_DIR)};
}
