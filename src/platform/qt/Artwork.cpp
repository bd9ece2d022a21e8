#include "platform/qt/Artwork.h"

#include <QString>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterArtwork() {
    Q_INIT_RESOURCE(sonavel);
}

namespace sonavel {

namespace {
void EnsureRegistered() {
    static const bool registered = (RegisterArtwork(), true);
    (void)registered;
}
} // namespace

QIcon ProgramIcon() {
    EnsureRegistered();
    // Every size drawn, so that a title bar or a task bar gets a sharp one.
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size));
    return icon;
}

QPixmap AboutPicture() {
    EnsureRegistered();
    return QPixmap(QStringLiteral(":/images/about.png"));
}

} // namespace sonavel
