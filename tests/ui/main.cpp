#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

// The window tests need one QApplication for the whole run. CTest sets
// QT_QPA_PLATFORM=offscreen; set it here too so that running the binary by hand
// needs no display either.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // Numbers the windows format (the score) follow the default locale.
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    // Tests close windows with no event loop to end.
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
