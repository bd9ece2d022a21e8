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
    return QIcon(QStringLiteral(":/icons/sonavel.png"));
}

QPixmap AboutPicture() {
    EnsureRegistered();
    return QPixmap(QStringLiteral(":/images/about.png"));
}

} // namespace sonavel
